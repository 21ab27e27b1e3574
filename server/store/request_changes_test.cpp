// What a request's own timeline does to a folder's change list and snapshot against
// real stores: items changed on the desktop after the list was computed stay owed
// to the device, the device's own changes are not reported back to it, and items
// gone before they are sent are passed over or sent as deletions.
#include <gtest/gtest.h>

#include "server/store/store_test_util.h"

namespace {

class RequestChangesTest : public StoreLayerTest {
protected:
    // "<key>;<low>;<high>;<read>;<label>" of the item as a snapshot writes it now.
    static std::string Row(IMAPIFolderPtr& folder, const std::string& key,
                           const std::string& label) {
        IMessagePtr item = OpenItem(folder, key);
        CPropValue time = item.GetProp(PR_LAST_MODIFICATION_TIME);
        return key + ";" + std::to_string(static_cast<std::int32_t>(time->Value.ft.dwLowDateTime)) +
               ";" + std::to_string(static_cast<std::int32_t>(time->Value.ft.dwHighDateTime)) +
               ";0;" + label;
    }

    // The inbox with items a and b, sent and acknowledged; a new request begins.
    CMobileMapiFolder* SyncedInbox(IMAPIFolderPtr& inbox, std::string& a, std::string& b) {
        a = AddItem(inbox, "a");
        b = AddItem(inbox, "b");
        auto* folder = static_cast<CMobileMapiFolder*>(session_->OpenFolder("-4", "Email", true));
        EXPECT_TRUE(folder->SaveStatus(0));
        Acknowledge("-4");
        NewRequest();
        return static_cast<CMobileMapiFolder*>(session_->OpenFolder("-4", "Email", true));
    }
};

TEST_F(RequestChangesTest, DesktopChangesAfterTheComputationStayOwed) {
    IMAPIFolderPtr inbox = DefaultFolder(-4);
    std::string a, b;
    CMobileMapiFolder* folder = SyncedInbox(inbox, a, b);
    std::string baseline = ReadWholeFile(StatePath("-4"));
    const std::string oldA = Row(inbox, a, "a");
    ASSERT_EQ(baseline, "[FolderInfo]\n" + oldA + "\n" + Row(inbox, b, "b") + "\n");
    EXPECT_EQ(Changes(folder), "");

    // While the request runs: the desktop edits a and files c; the device edits b.
    TouchItem(inbox, a, "a2");
    std::string c = AddItem(inbox, "c");
    TouchItem(inbox, b, "b2");
    session_->NoteDeviceChange(b);
    TakeTrace();
    ASSERT_TRUE(folder->SaveStatus(0));
    EXPECT_EQ(ReadWholeFile(StatePath("-4_temp")),
              "[FolderInfo]\n" + oldA + "\n" + Row(inbox, b, "b2") + "\n");
    std::string trace = TakeTrace();
    EXPECT_NE(trace.find("Saving Table -4_temp: " + a +
                         " changed during the request, kept for the next answer|"),
              std::string::npos)
        << trace;
    EXPECT_NE(trace.find("Saving Table -4_temp: " + c +
                         " changed during the request, kept for the next answer|"),
              std::string::npos)
        << trace;

    // Acknowledged: the next request sends a and c, and not b.
    Acknowledge("-4");
    NewRequest();
    EXPECT_EQ(Changes(session_->OpenFolder("-4", "Email", true)),
              "2 " + a + " unknown\n1 " + c + " unknown\n");
}

TEST_F(RequestChangesTest, TheDevicesOwnChangesAreLeftOutOfALaterComputation) {
    IMAPIFolderPtr inbox = DefaultFolder(-4);
    std::string a, b;
    CMobileMapiFolder* folder = SyncedInbox(inbox, a, b);
    // The device adds d, edits a and deletes b; the desktop edits nothing.
    std::string d = AddItem(inbox, "d");
    session_->NoteDeviceChange(d);
    TouchItem(inbox, a, "a2");
    session_->NoteDeviceChange(a);
    inbox.DeleteMessages({*CByteBuffer::ParseHex(b)});
    std::string lower = b;
    for (char& ch : lower) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    session_->NoteDeviceChange(lower);  // keys compare ignoring case
    EXPECT_TRUE(session_->ChangedByDevice(b));

    // A reset computes after the device's changes: only e, the desktop's, is new.
    std::string e = AddItem(inbox, "e");
    folder->SetReset(true);
    TakeTrace();
    EXPECT_EQ(Changes(folder), "1 " + e + " unknown\n");
    EXPECT_NE(TakeTrace().find("|3 changed items|2 changed items are the device's own|"),
              std::string::npos);
    // Without reset: a and the deletion of b are the device's, e the desktop's.
    NewRequest();
    folder = static_cast<CMobileMapiFolder*>(session_->OpenFolder("-4", "Email", true));
    session_->NoteDeviceChange(a);
    session_->NoteDeviceChange(b);
    folder->ClearChanges();
    EXPECT_EQ(Changes(folder), "1 " + d + " unknown\n1 " + e + " unknown\n");
    // The snapshot holds the device's items as they are now.
    ASSERT_TRUE(folder->SaveStatus(0));
    EXPECT_EQ(ReadWholeFile(StatePath("-4_temp")), "[FolderInfo]\n" + Row(inbox, a, "a2") + "\n" +
                                                       Row(inbox, d, "d") + "\n" +
                                                       Row(inbox, e, "e") + "\n");
    // The next request reports nothing of its predecessor's device changes.
    NewRequest();
    EXPECT_FALSE(session_->ChangedByDevice(a));
}

TEST_F(RequestChangesTest, ItemsGoneBeforeTheyAreSentArePassedOverOrSentAsDeleted) {
    IMAPIFolderPtr inbox = DefaultFolder(-4);
    std::string a, b;
    CMobileMapiFolder* folder = SyncedInbox(inbox, a, b);
    TouchItem(inbox, a, "a2");
    TouchItem(inbox, b, "b2");
    std::string c = AddItem(inbox, "c");
    std::string d = AddItem(inbox, "d");
    folder->ClearChanges();
    EXPECT_EQ(Changes(folder), "2 " + a + " unknown\n2 " + b + " unknown\n1 " + c + " unknown\n1 " +
                                   d + " unknown\n");
    // After the computation: the desktop deletes a and c, the device deletes b.
    inbox.DeleteMessages({*CByteBuffer::ParseHex(a), *CByteBuffer::ParseHex(c)});
    inbox.DeleteMessages({*CByteBuffer::ParseHex(b)});
    session_->NoteDeviceChange(b);
    TakeTrace();

    std::unique_ptr<CAbstractVantroElement> first = folder->NextChangedElement();
    ASSERT_TRUE(first);
    EXPECT_EQ(first->GetKey(), a);
    EXPECT_EQ(first->GetState(), kStateDelete);  // the device still holds a
    std::unique_ptr<CAbstractVantroElement> second = folder->NextChangedElement();
    ASSERT_TRUE(second);
    EXPECT_EQ(second->GetKey(), d);
    EXPECT_EQ(second->GetState(), kStateAdd);
    EXPECT_FALSE(folder->NextChangedElement());
    std::string trace = TakeTrace();
    EXPECT_NE(trace.find("Item " + a + " no longer exists, sent as deleted|"), std::string::npos)
        << trace;
    // b is the device's own deletion: never sent, not even looked up.
    EXPECT_EQ(trace.find("Item " + b), std::string::npos) << trace;
    EXPECT_NE(trace.find("Item " + c + " no longer exists, passed over|"), std::string::npos)
        << trace;
}

}  // namespace
