// The ClientID maps a request leaves behind against real stores and files: the
// next request of the same device takes them again only while their index files
// are what they wrote, and reads the files again once anything else touched them.
#include <gtest/gtest.h>

#include "server/devices/device_requests.h"
#include "server/store/store_test_util.h"
#include "server/syncstate/contents_table_file.h"

namespace {

class RequestExchangeTest : public StoreLayerTest {
protected:
    CMobileMapiFolder& Contacts() {
        return *static_cast<CMobileMapiFolder*>(session_->OpenFolder("-1", "Contact", true));
    }

    CClientMap& MapOfContacts() {
        CClientMap* map = session_->Exchange().MapOf(Contacts());
        EXPECT_NE(map, nullptr);
        return *map;
    }

    // The ClientID the contacts map of the current request gives key; "-" for no record.
    std::string ClientIdOf(const std::string& key) {
        const CClientMapRecord* record = MapOfContacts().FindByServerKey(key);
        return record == nullptr ? "-" : record->clientId;
    }

    // A request of device that maps clientId to key in the contacts map and ends.
    void MapInRequest(const std::string& key, const std::string& clientId,
                      const std::string& device = "PPC1") {
        NewRequest(device);
        MapOfContacts().MapClientId(key, clientId);
        session_->EndRequest();
    }

    // Rewrites the contacts index of PPC1 the way another writer would: read,
    // changed, replaced.
    void RewriteIndex(const std::string& key, const std::string& clientId) {
        CClientMap other(dataFolder_, "PPC1", "-1");
        ASSERT_EQ(other.Load(), CClientMap::LoadResult::kLoaded);
        other.MapClientId(key, clientId);
        std::string error;
        ASSERT_TRUE(other.Save(error)) << error;
    }

    const std::string key_ = "00000000AABBCCDD";
};

TEST_F(RequestExchangeTest, TheNextRequestTakesTheMapItsFileStillHolds) {
    MapInRequest(key_, "c1");
    CClientMap* first = session_->Exchange().MapOf(Contacts());
    NewRequest();
    EXPECT_EQ(ClientIdOf(key_), "c1");
    // Taken again, not read again: the same object.
    EXPECT_EQ(&MapOfContacts(), first);
    MapOfContacts().MapClientId(key_ + "01", "c2");
    session_->EndRequest();
    // What the kept map then saved is what a fresh read finds.
    CClientMap fresh(dataFolder_, "PPC1", "-1");
    ASSERT_EQ(fresh.Load(), CClientMap::LoadResult::kLoaded);
    ASSERT_NE(fresh.FindByClientId("c2"), nullptr);
    EXPECT_EQ(fresh.FindByClientId("c1")->serverKey, key_);
}

TEST_F(RequestExchangeTest, AFileTouchedBetweenRequestsIsReadAgain) {
    // Rewritten by another writer.
    MapInRequest(key_, "c1");
    RewriteIndex(key_, "c9");
    NewRequest();
    EXPECT_EQ(ClientIdOf(key_), "c9");
    session_->EndRequest();

    // Removed by the console's reset of the folder.
    NewRequest();
    session_->EndRequest();
    EXPECT_GT(DeleteFolderStateFiles(dataFolder_, "PPC1", "-1"), 0);
    NewRequest();
    EXPECT_EQ(ClientIdOf(key_), "-");
    session_->EndRequest();

    // A marker left beside an unchanged index: the ClientIDs are rebuilt from the items.
    MapInRequest(key_, "c1");
    std::string error;
    {
        CClientMap marking(dataFolder_, "PPC1", "-1");
        ASSERT_EQ(marking.Load(), CClientMap::LoadResult::kLoaded);
        ASSERT_TRUE(marking.MarkDirty(error)) << error;
    }
    NewRequest();
    TakeTrace();
    MapOfContacts();
    EXPECT_NE(TakeTrace().find("ClientID map -1 rebuilt from"), std::string::npos);
}

TEST_F(RequestExchangeTest, AMapIsKeptOnlyForItsDeviceAndOnlyWhenSaved) {
    MapInRequest(key_, "c1");
    // Another device has maps of its own, and the first one's are read again after it.
    MapInRequest(key_, "b1", "PPC2");
    NewRequest("PPC2");
    EXPECT_EQ(ClientIdOf(key_), "b1");
    session_->EndRequest();
    NewRequest();
    EXPECT_EQ(ClientIdOf(key_), "c1");
    session_->EndRequest();

    // A request whose store writes were not taken forgets its maps unwritten: the
    // next request reads the file, which still holds what was saved before.
    NewRequest();
    MapOfContacts().MapClientId(key_, "lost");
    session_->Exchange().Discard();
    session_->EndRequest();
    NewRequest();
    EXPECT_EQ(ClientIdOf(key_), "c1");
    session_->EndRequest();

    // A map whose index cannot be written is not kept either.
    NewRequest();
    MapOfContacts().MapClientId(key_, "unsaved");
    SetFileWriteFaultHook([](FileWriteStep step) { return step == FileWriteStep::Write; });
    session_->EndRequest();
    SetFileWriteFaultHook(nullptr);
    NewRequest();
    EXPECT_EQ(ClientIdOf(key_), "c1");
}

}  // namespace
