// Change detection and snapshots of store folders against real stores: the change
// list of a folder, its state files byte for byte, day windows and the mends of
// the sync state (snapshot window, per-request recomputation, atomic snapshots).
#include <gtest/gtest.h>

#include <filesystem>

#include "common/base/file_time.h"
#include "server/mapi/mapi_prop_value.h"
#include "server/store/store_test_util.h"
#include "server/syncstate/folder_info.h"

namespace {

class FolderSyncTest : public StoreLayerTest {
protected:
    // Saves the folder's snapshot and takes it as the device's acknowledged state.
    ::testing::AssertionResult SavedAndAcknowledged(CAbstractVantroFolder* folder,
                                                    const std::string& key) {
        if (!folder->SaveStatus(0))
            return ::testing::AssertionFailure() << "the snapshot of " << key << " was not saved";
        Acknowledge(key);
        return ::testing::AssertionSuccess();
    }

    // "<low>;<high>" of the item's PR_LAST_MODIFICATION_TIME, as the state file has it.
    static std::string TimeFields(IMAPIFolderPtr& folder, const std::string& key) {
        IMessagePtr item = OpenItem(folder, key);
        CPropValue time = item.GetProp(PR_LAST_MODIFICATION_TIME);
        return std::to_string(static_cast<std::int32_t>(time->Value.ft.dwLowDateTime)) + ";" +
               std::to_string(static_cast<std::int32_t>(time->Value.ft.dwHighDateTime));
    }

    // Sets the appointment's end (named property 0x820E) to days before now.
    static void SetEnd(IMAPIFolderPtr& folder, const std::string& key, int daysAgo) {
        IMessagePtr item = OpenItem(folder, key);
        ULONG tag = item.GetIDFromName(PSETID_Appointment, 0x820E, PT_SYSTIME, MAPI_CREATE);
        std::uint64_t end = static_cast<std::uint64_t>(static_cast<std::int64_t>(FileTimeNow()) -
                                                       daysAgo * kFileTimeUnitsPerDay);
        FILETIME time{static_cast<DWORD>(end), static_cast<DWORD>(end >> 32)};
        item.SetProp(*CPropValue::Time(tag, time).Get());
        item.SaveChanges(0);
    }

    // "Date(d,m,y)" of the start of a window of days days (UTC).
    static std::string CutoffDate(int days) {
        std::uint64_t cutoff = static_cast<std::uint64_t>(
            DayWindowCutoff(days, static_cast<std::int64_t>(FileTimeNow())));
        CUtcTime utc =
            FileTimeToUtc(FILETIME{static_cast<DWORD>(cutoff), static_cast<DWORD>(cutoff >> 32)});
        return "Date(" + std::to_string(utc.day) + "," + std::to_string(utc.month) + "," +
               std::to_string(utc.year) + ")";
    }
};

TEST_F(FolderSyncTest, NewItemsAreReportedUntilTheSnapshotIsAcknowledged) {
    IMAPIFolderPtr contacts = DefaultFolder(-1);
    std::string a = AddItem(contacts, "Anna", "IPM.Contact", "Anna Muster");
    std::string b = AddItem(contacts, "Bert", "IPM.Contact");

    CAbstractVantroFolder* folder = session_->OpenFolder("-1", "Contacts", true);
    ASSERT_NE(folder, nullptr);
    ASSERT_TRUE(folder->IsValid());
    EXPECT_EQ(folder->GetKey(), "-1");
    EXPECT_EQ(folder->GetTempKey(), "-1_temp");
    EXPECT_EQ(Changes(folder), "1 " + a + " Anna Muster\n1 " + b + " unknown\n");
    EXPECT_EQ(
        TakeTrace(),
        "Syncing folder Top of Personal Folders\\Contacts|Folder Contacts\n|2 changed items|");

    ASSERT_TRUE(folder->SaveStatus(0));
    const std::string snapshot = "[FolderInfo]\n" + a + ";" + TimeFields(contacts, a) +
                                 ";0;Anna Muster\n" + b + ";" + TimeFields(contacts, b) +
                                 ";0;Bert\n";
    EXPECT_EQ(ReadWholeFile(StatePath("-1_temp")), snapshot);
    EXPECT_EQ(TakeTrace(), "Saving Table -1_temp|" + a + ";" + TimeFields(contacts, a) +
                               ";0;Anna Muster|" + b + ";" + TimeFields(contacts, b) + ";0;Bert|");

    // Without acknowledgement the same changes come again.
    NewRequest();
    EXPECT_EQ(Changes(session_->OpenFolder("-1", "Contacts", true)),
              "1 " + a + " Anna Muster\n1 " + b + " unknown\n");

    Acknowledge("-1");
    NewRequest();
    EXPECT_EQ(session_->OpenFolder("-1", "Contacts", true), folder);
    EXPECT_EQ(Changes(folder), "");
}

TEST_F(FolderSyncTest, ModifiedReadAndDeletedItemsInTheirOrder) {
    IMAPIFolderPtr inbox = DefaultFolder(-4);
    std::string a = AddItem(inbox, "first");
    std::string b = AddItem(inbox, "second");
    std::string c = AddItem(inbox, "third");
    CAbstractVantroFolder* folder = session_->OpenFolder("-4", "", true);
    ASSERT_TRUE(SavedAndAcknowledged(folder, "-4"));

    TouchItem(inbox, b, "second, changed");
    inbox.SetReadFlags({*CByteBuffer::ParseHex(c)}, 0);  // the time stays as it was
    std::string d = AddItem(inbox, "fourth");
    inbox.DeleteMessages({*CByteBuffer::ParseHex(a)});
    NewRequest();
    EXPECT_EQ(folder->GetClassName(), "Email");
    EXPECT_EQ(Changes(folder), "2 " + b +
                                   " unknown\n"
                                   "5 " +
                                   c +
                                   " unknown read=1\n"
                                   "1 " +
                                   d +
                                   " unknown\n"
                                   "4 " +
                                   a + " unknown\n");
}

TEST_F(FolderSyncTest, ChangeEntriesAreFoundByKeyInTheListAsItStands) {
    IMAPIFolderPtr inbox = DefaultFolder(-4);
    std::string a = AddItem(inbox, "first");
    std::string b = AddItem(inbox, "second");
    CAbstractVantroFolder* folder = session_->OpenFolder("-4", "", true);
    ASSERT_TRUE(SavedAndAcknowledged(folder, "-4"));
    TouchItem(inbox, b, "second, changed");
    std::string c = AddItem(inbox, "third");
    NewRequest();
    folder = session_->OpenFolder("-4", "", true);
    ASSERT_EQ(folder->GetChangeCount(), 2);
    ASSERT_NE(folder->FindChangeEntry(b), nullptr);
    EXPECT_EQ(folder->FindChangeEntry(b)->GetKind(), kChangeModified);
    EXPECT_EQ(folder->FindChangeEntry(c), folder->GetChangeEntry(1));
    EXPECT_EQ(folder->FindChangeEntry(a), nullptr);  // unchanged
    // A cleared list finds nothing, and one computed afresh finds its own entries.
    folder->ClearChanges();
    EXPECT_EQ(folder->FindChangeEntry(b), nullptr);
    inbox.DeleteMessages({*CByteBuffer::ParseHex(a)});
    NewRequest();
    folder = session_->OpenFolder("-4", "", true);
    ASSERT_NE(folder->FindChangeEntry(a), nullptr);
    EXPECT_EQ(folder->FindChangeEntry(a)->GetKind(), kChangeDeleted);
}

TEST_F(FolderSyncTest, ReadStateCountsOnlyInMailFolders) {
    IMAPIFolderPtr tasks = DefaultFolder(-2);
    std::string t = AddItem(tasks, "Call Bob", "IPM.Task");
    CAbstractVantroFolder* folder = session_->OpenFolder("-2", "Task", true);
    ASSERT_TRUE(SavedAndAcknowledged(folder, "-2"));
    tasks.SetReadFlags({*CByteBuffer::ParseHex(t)}, 0);
    NewRequest();
    EXPECT_EQ(Changes(session_->OpenFolder("-2", "Task", true)), "");
    // The same folder opened as a mail folder sees the read change.
    NewRequest();
    EXPECT_EQ(Changes(session_->OpenFolder("-2", "Email", true)), "5 " + t + " unknown read=1\n");
}

TEST_F(FolderSyncTest, CachedFolderComputesOncePerRequest) {
    IMAPIFolderPtr inbox = DefaultFolder(-4);
    std::string a = AddItem(inbox, "a");
    CAbstractVantroFolder* folder = session_->OpenFolder("-4", "Email", true);
    EXPECT_EQ(Changes(folder), "1 " + a + " unknown\n");
    // An item the device adds during the request is not echoed back in it.
    std::string fromDevice = AddItem(inbox, "from the device");
    session_->NoteDeviceChange(fromDevice);
    EXPECT_EQ(Changes(folder), "1 " + a + " unknown\n");
    ASSERT_TRUE(SavedAndAcknowledged(folder, "-4"));

    // A desktop change between requests reaches the next one.
    std::string desktop = AddItem(inbox, "desktop");
    NewRequest();
    EXPECT_EQ(Changes(session_->OpenFolder("-4", "Email", true)), "1 " + desktop + " unknown\n");
    // EndRequest empties the lists of cached folders too.
    session_->EndRequest();
    EXPECT_EQ(folder->GetChangeCount(), 0);
}

TEST_F(FolderSyncTest, DayWindowOnTheCalendarUsesTheAppointmentEnd) {
    IMAPIFolderPtr calendarFolder = DefaultFolder(-3);
    std::string old = AddItem(calendarFolder, "old meeting", "IPM.Appointment");
    std::string recent = AddItem(calendarFolder, "recent meeting", "IPM.Appointment");
    SetEnd(calendarFolder, old, 10);
    SetEnd(calendarFolder, recent, 1);

    // A configured folder, computed with the calendar window of the request.
    CMobileMapiFolder calendar(&Device(), session_.get(), calendarFolder);
    std::string before = CutoffDate(7);
    TakeTrace();
    EXPECT_EQ(Changes(&calendar, -3), "1 " + recent + " unknown\n");
    std::string trace = TakeTrace();
    std::string after = CutoffDate(7);
    size_t at = trace.find("Restriction = ");
    ASSERT_NE(at, std::string::npos) << trace;
    std::string line = trace.substr(at, trace.find('|', at) - at);
    EXPECT_TRUE(line == "Restriction = AppointmentEndWhole >= " + before + " \n" ||
                line == "Restriction = AppointmentEndWhole >= " + after + " \n")
        << line;

    // The snapshot holds the same items, whatever window it is asked for.
    ASSERT_TRUE(calendar.SaveStatus(0));
    EXPECT_EQ(ReadWholeFile(StatePath("-3_temp")), "[FolderInfo]\n" + recent + ";" +
                                                       TimeFields(calendarFolder, recent) +
                                                       ";0;recent meeting\n");

    // An item that falls out of the window is reported deleted.
    WriteWholeFile(StatePath("-3"), "[FolderInfo]\n" + old + ";" + TimeFields(calendarFolder, old) +
                                        ";0;old\n" + recent + ";" +
                                        TimeFields(calendarFolder, recent) + ";0;recent\n");
    NewRequest();
    CMobileMapiFolder again(&Device(), session_.get(), calendarFolder);
    EXPECT_EQ(Changes(&again, -3), "4 " + old + " unknown\n");
}

TEST_F(FolderSyncTest, StateFileRowsStartAfterTheHeaderLine) {
    IMAPIFolderPtr tasks = DefaultFolder(-2);
    std::string a = AddItem(tasks, "a", "IPM.Task");
    std::string b = AddItem(tasks, "b", "IPM.Task");
    std::filesystem::create_directories(dataFolder_ + "/PPC1");
    WriteWholeFile(StatePath("-2"), b + ";1;1;0;before the header\n[FolderInfo]\n" + a + ";" +
                                        TimeFields(tasks, a) + ";0;a\n");
    EXPECT_EQ(Changes(session_->OpenFolder("-2", "Task", true)), "1 " + b + " unknown\n");
}

TEST_F(FolderSyncTest, SubjectWithSemicolonIsWrittenAsItIsAndReadBackCut) {
    IMAPIFolderPtr tasks = DefaultFolder(-2);
    std::string a = AddItem(tasks, "Lunch; with Bob", "IPM.Task");
    CAbstractVantroFolder* folder = session_->OpenFolder("-2", "Task", true);
    ASSERT_TRUE(folder->SaveStatus(0));
    EXPECT_EQ(ReadWholeFile(StatePath("-2_temp")),
              "[FolderInfo]\n" + a + ";" + TimeFields(tasks, a) + ";0;Lunch; with Bob\n");
    Acknowledge("-2");
    NewRequest();
    EXPECT_EQ(Changes(folder), "");
    std::shared_ptr<CFolderInfo> info = GetInfo(Device(), tasks, dataFolder_);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->Baseline().at(a).label, "Lunch");
}

TEST_F(FolderSyncTest, FailedSnapshotLeavesThePreviousOne) {
    IMAPIFolderPtr inbox = DefaultFolder(-4);
    std::string a = AddItem(inbox, "a");
    CAbstractVantroFolder* folder = session_->OpenFolder("-4", "Email", true);
    ASSERT_TRUE(folder->SaveStatus(0));
    const std::string first = ReadWholeFile(StatePath("-4_temp"));

    AddItem(inbox, "b");
    NewRequest();
    folder->PrepareChanges(0);
    for (FileWriteStep step : {FileWriteStep::Write, FileWriteStep::Sync, FileWriteStep::Rename}) {
        SetFileWriteFaultHook([step](FileWriteStep at) { return at == step; });
        EXPECT_FALSE(folder->SaveStatus(0));
        EXPECT_EQ(ReadWholeFile(StatePath("-4_temp")), first);
        EXPECT_FALSE(std::filesystem::exists(StatePath("-4_temp") + ".tmp"));
    }
    EXPECT_NE(TakeTrace().find("Saving Table -4_temp failed: cannot "), std::string::npos);
    SetFileWriteFaultHook(nullptr);
    EXPECT_TRUE(folder->SaveStatus(0));
    EXPECT_NE(ReadWholeFile(StatePath("-4_temp")), first);
}

TEST_F(FolderSyncTest, ResetReportsEveryItemAgain) {
    IMAPIFolderPtr inbox = DefaultFolder(-4);
    std::string a = AddItem(inbox, "a");
    CAbstractVantroFolder* folder = session_->OpenFolder("-4", "Email", true);
    ASSERT_TRUE(SavedAndAcknowledged(folder, "-4"));
    NewRequest();
    folder->SetReset(true);
    EXPECT_EQ(Changes(folder), "1 " + a + " unknown\n");
    // The reset was spent on that computation.
    NewRequest();
    EXPECT_EQ(Changes(folder), "");
}

TEST_F(FolderSyncTest, DevicesKeepTheirOwnFoldersAndStateFiles) {
    IMAPIFolderPtr aliceContacts = DefaultFolder(-1);
    std::string anna = AddItem(aliceContacts, "Anna", "IPM.Contact");
    CAbstractVantroFolder* alice = session_->OpenFolder("-1", "Contacts", true);
    ASSERT_TRUE(alice->SaveStatus(0));

    NewRequest("PPC2", "bob");
    CAbstractVantroFolder* bob = session_->OpenFolder("-1", "Contacts", true);
    ASSERT_NE(bob, alice);
    EXPECT_EQ(Changes(bob), "");  // bob's store has no contacts
    ASSERT_TRUE(bob->SaveStatus(0));
    EXPECT_EQ(ReadWholeFile(StatePath("-1_temp", "PPC2")), "[FolderInfo]\n");
    EXPECT_EQ(ReadWholeFile(StatePath("-1_temp", "PPC1")).find(anna),
              std::string("[FolderInfo]\n").size());
}

// A comparison cut short by a store error would let a full snapshot acknowledge
// changes that were never sent; the earlier snapshot is removed as well.
TEST_F(FolderSyncTest, IncompleteComparisonWritesNoSnapshot) {
    auto* gone = static_cast<CMobileMapiFolder*>(session_->OpenFolderByPath("-4/Gone"));
    ASSERT_TRUE(gone && gone->IsValid());
    AddItem(gone->MapiFolder(), "a");
    NewRequest();
    gone->PrepareChanges(0);
    ASSERT_TRUE(gone->SaveStatus(0));
    std::string tempKey = gone->GetTempKey();
    ASSERT_TRUE(std::filesystem::exists(StatePath(tempKey)));

    IMAPIFolderPtr inbox = DefaultFolder(-4);
    inbox.Get()->DeleteFolder(gone->EntryId().EntryIdSize(), gone->EntryId().EntryId(), 0, nullptr,
                              DEL_MESSAGES | DEL_FOLDERS);
    NewRequest();
    TakeTrace();
    gone->PrepareChanges(0);
    EXPECT_EQ(gone->GetChangeCount(), 0);
    EXPECT_FALSE(gone->SaveStatus(0));
    EXPECT_FALSE(std::filesystem::exists(StatePath(tempKey)));
    EXPECT_EQ(TakeTrace(),
              "Folder Gone\n|Folder Gone: change detection failed: MAPI_E_OBJECT_DELETED|"
              "Saving Table " +
                  tempKey + " skipped: the change list is incomplete|");
}

}  // namespace
