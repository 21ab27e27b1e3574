// The fixture of the Vantro end-to-end tests: one corvel --headless over a
// temporary data home, users made with "corvel user add", the store seeded and
// read with corvel-store, and requests built from readable descriptions by the
// test client.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "server/config/config_test_util.h"
#include "tests/corvel_home_test.h"
#include "tests/vantro_client.h"
#include "tests/vantro_process.h"
#include "tests/vantro_request.h"

// The answer of a request that asked for nothing: the WBXML header alone.
inline const std::string kHeaderOnly("\x03\x01\x6A\x00", 4);

// A Logon element in the test client's description form.
inline std::string Logon(const std::string& deviceId, const std::string& user,
                         const std::string& password) {
    return "Logon\n  DeviceID " + deviceId + "\n  UserName " + user + "\n  Password " + password +
           "\n";
}

// The head of one folder of a described answer: Sync, Folder, the AckString of the
// snapshot of generation, the folder's ServerID and FolderPath (its code, "-1").
inline std::string AnsweredFolder(const std::string& code, int generation,
                                  const std::string& device = "PPC1") {
    return "Sync\n  Folder\n    AckString " + device + ":" + code + ".csv:" + code + "_temp." +
           std::to_string(generation) + ".csv\n    ServerID " + code + "\n    FolderPath " + code +
           "\n";
}

// One Element of a described answer: change (Add, Modify, Delete) of the item key,
// and its COLLECTION of fields when there are any.
inline std::string AnsweredElement(const std::string& change, const std::string& key,
                                   const std::vector<std::string>& fields = {}) {
    std::string out = "    Element\n      " + change + "\n        ServerID " + key + "\n";
    if (!fields.empty()) out += "        COLLECTION\n";
    for (const std::string& field : fields) out += "          " + field + "\n";
    return out;
}

class VantroServerTest : public CorvelHomeTest {
protected:
    // A user of the default profile; automatic adds the seven default folders.
    void AddUser(const std::string& name, const std::string& password, bool automatic = true) {
        std::vector<std::string> args = {"user", "add", name, "--password", password};
        if (automatic) args.push_back("--auto");
        TestProgram add("corvel", temp_.Path(), args);
        ASSERT_EQ(add.Wait(), 0) << add.Out();
    }
    // Starts corvel on free ports; port_ is its web port. extra: further settings of
    // its environment ("CORVEL_TEST_CRASH=after-item-save").
    void Start(std::vector<std::string> extra = {}) {
        corvel_.reset();
        corvel_ = std::make_unique<TestProgram>(
            "corvel", temp_.Path(),
            std::vector<std::string>{"--headless", "--port", "0", "--https-port", "0",
                                     "--trace-port", "0"},
            std::move(extra));
        port_ = corvel_->Port();
        ASSERT_NE(port_, 0) << corvel_->Out();
    }
    // The raw HTTP answer to a request body built from description.
    std::string Send(const std::string& description) {
        return AskServer(port_, VantroHttpRequest(BuildVantroBody(description)));
    }
    // The answer body in readable form; the raw body is kept (LastBody).
    std::string Exchange(const std::string& description) {
        std::string body = AnswerBody(Send(description));
        {
            std::lock_guard<std::mutex> lock(lastBodyLock_);
            lastBody_ = body;
        }
        return DescribeVantroBody(body);
    }
    // The raw body of the last answer Exchange received.
    std::string LastBody() const {
        std::lock_guard<std::mutex> lock(lastBodyLock_);
        return lastBody_;
    }
    // corvel-store's output; its exit code is kept in lastToolCode_.
    std::string Store(std::vector<std::string> args) {
        TestProgram tool("corvel-store", temp_.Path(), std::move(args));
        lastToolCode_ = tool.Wait();
        return tool.Out();
    }
    // A new item in folder made with "corvel-store add" (props: its property
    // assignments); its entry ID, the first line of the tool's output.
    std::string AddItem(const std::string& folder, const std::string& cls,
                        std::vector<std::string> props = {}) {
        std::vector<std::string> args = {"add", folder, "--class", cls};
        args.insert(args.end(), props.begin(), props.end());
        std::string out = Store(args);
        EXPECT_EQ(lastToolCode_, 0) << out;
        return out.substr(0, out.find_first_of("\r\n"));
    }
    bool Exists(const std::string& relative) {
        return std::filesystem::exists(data_ + "/" + relative);
    }
    // An Acknlowledge (description form) of every AckString the last answer
    // carried; empty when it carried none.
    std::string Acks() const {
        std::string out;
        const std::string text = DescribeVantroBody(LastBody());
        const std::string key = "AckString ";
        for (size_t at = text.find(key); at != std::string::npos; at = text.find(key, at + 1)) {
            size_t end = text.find('\n', at);
            out += "  " + text.substr(at, end - at) + "\n";
        }
        return out.empty() ? out : "Acknlowledge\n" + out;
    }

    std::unique_ptr<TestProgram> corvel_;
    int port_ = 0;
    int lastToolCode_ = 0;

private:
    // Requests may be exchanged from several threads at once.
    mutable std::mutex lastBodyLock_;  // owns lastBody_
    std::string lastBody_;
};
