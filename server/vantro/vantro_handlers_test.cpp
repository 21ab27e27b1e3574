// The protocol side as the web server and the console meet it: requests through
// CVantroHandlers, and the console's reset of a device, which drops what the device
// was sent, so that its next sync gets every item again, and which never waits for a
// request that is running but takes effect when it has ended.
#include "server/vantro/vantro_handlers.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "server/runtime/device_actions.h"
#include "server/vantro/vantro_test_util.h"

namespace {

using namespace vantro_test;

class VantroHandlersTest : public VantroRequestTest {
protected:
    void SetUp() override {
        VantroRequestTest::SetUp();
        handlers_ = std::make_shared<CVantroHandlers>(devices_->List());
        handlers_->EnsureSession(*settings_);
        SetProtocolHandlers(handlers_);
    }
    void TearDown() override {
        SetProtocolHandlers(nullptr);
        handlers_.reset();
        VantroRequestTest::TearDown();
    }

    // One request of PPC1 through the handlers; the answer's description, its
    // AckStrings kept for Ack().
    std::string Handle(const std::vector<Node>& top) {
        std::string body = Body(top);
        std::string http =
            "POST vantro HTTP/1.1\r\nContent-Type: application/vantro\r\nContent-Length: " +
            std::to_string(body.size()) + "\r\n\r\n" + body;
        CHTMLCommand request;
        request.ParseMessage(true, http.data(), http.size());
        CDataString answer;
        EXPECT_TRUE(handlers_->HandleVantroRequest(*settings_, request, answer));
        std::string text = answer.ToString();
        size_t headEnd = text.find("\r\n\r\n");
        EXPECT_NE(headEnd, std::string::npos) << text;
        std::string document = headEnd == std::string::npos ? "" : text.substr(headEnd + 4);
        acks_ = AckStringsOf(document);
        return Describe(document, false);
    }

    // The device's state files (*.csv in its folder).
    size_t StateFiles() const {
        size_t count = 0;
        std::error_code error;
        for (const auto& entry :
             std::filesystem::directory_iterator(dataFolder_ + "/PPC1", error)) {
            if (entry.path().extension() == ".csv") ++count;
        }
        return count;
    }

    std::shared_ptr<CVantroHandlers> handlers_;
};

TEST_F(VantroHandlersTest, TheConsolesResetSendsEveryItemAgain) {
    std::string anna = AddItem(contacts_, "Anna", "IPM.Contact");
    std::string bert = AddItem(contacts_, "Bert", "IPM.Contact");
    ASSERT_EQ(Handle({Box(kSync, {GetContacts(true)})}),
              SentFolder({"Add " + anna, "Add " + bert}, 1));
    // Acknowledged: nothing is owed.
    EXPECT_EQ(Handle({Ack(), Box(kSync, {GetContacts()})}), "");
    ASSERT_GT(StateFiles(), 0u);

    // No request runs: the reset is carried out at once.
    EXPECT_TRUE(ResetDeviceSyncState(*settings_, devices_->List(), "PPC1"));
    EXPECT_EQ(StateFiles(), 0u);
    EXPECT_EQ(Handle({Box(kSync, {GetContacts()})}), SentFolder({"Add " + anna, "Add " + bert}, 1));

    // An ID that cannot name a device resets nothing.
    EXPECT_FALSE(ResetDeviceSyncState(*settings_, devices_->List(), "../PPC1"));
}

TEST_F(VantroHandlersTest, AResetDuringARequestWaitsForItsEnd) {
    std::string anna = AddItem(contacts_, "Anna", "IPM.Contact");
    ASSERT_EQ(Handle({Box(kSync, {GetContacts(true)})}), SentFolder({"Add " + anna}, 1));
    Handle({Ack()});
    ASSERT_GT(StateFiles(), 0u);

    // The console resets the device while a request of it runs (at the request's
    // first trace line): the call returns without waiting, and the running request
    // still works on its own state.
    bool resetReturned = false;
    size_t filesDuringRequest = 0;
    SetLiveTraceSink([&](const std::string&) {
        if (resetReturned) return;
        std::thread console(
            [&] { resetReturned = ResetDeviceSyncState(*settings_, devices_->List(), "PPC1"); });
        console.join();
        filesDuringRequest = StateFiles();
    });
    EXPECT_EQ(Handle({Box(kSync, {GetContacts()})}), "");
    SetLiveTraceSink(nullptr);
    EXPECT_TRUE(resetReturned);
    EXPECT_GT(filesDuringRequest, 0u);
    // Carried out as the request ended: the next sync sends Anna again.
    EXPECT_EQ(StateFiles(), 0u);
    EXPECT_EQ(Handle({Box(kSync, {GetContacts()})}), SentFolder({"Add " + anna}, 1));
}

}  // namespace
