// Synchronisation over the Vantro protocol end to end: day windows of tasks and
// appointments, device deletes and changes of tasks and appointments, and a device
// kept to the folders its user offers. corvel runs headless over a temporary data
// home; the store is seeded and inspected with corvel-store.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "common/base/file_time.h"
#include "server/config/config_test_util.h"
#include "tests/vantro_server_test.h"

namespace {

class VantroSync : public VantroServerTest {
protected:
    // Sets the store's modification time of the item with entry ID key, as if it
    // was last changed at unixSeconds. Only while corvel is not running.
    void AgeItem(const std::string& key, long long unixSeconds) {
        std::string db;
        for (const auto& entry :
             std::filesystem::recursive_directory_iterator(temp_.Path() + "/MAPI")) {
            std::string name = entry.path().filename().string();
            if (name.rfind("store-", 0) == 0 && entry.path().extension() == ".db")
                db = entry.path().string();
        }
        ASSERT_FALSE(db.empty());
        sqlite3* raw = nullptr;
        ASSERT_EQ(sqlite3_open(db.c_str(), &raw), SQLITE_OK);
        std::unique_ptr<sqlite3, int (*)(sqlite3*)> handle(raw, sqlite3_close);
        sqlite3_stmt* rawStatement = nullptr;
        ASSERT_EQ(sqlite3_prepare_v2(
                      raw, "UPDATE objects SET modified = ?1 WHERE ?2 LIKE '%' || hex(eid)", -1,
                      &rawStatement, nullptr),
                  SQLITE_OK);
        std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> statement(rawStatement,
                                                                        sqlite3_finalize);
        sqlite3_bind_int64(rawStatement, 1, FileTimeFromUnixSeconds(unixSeconds));
        sqlite3_bind_text(rawStatement, 2, key.c_str(), -1, SQLITE_TRANSIENT);
        ASSERT_EQ(sqlite3_step(rawStatement), SQLITE_DONE);
        ASSERT_EQ(sqlite3_changes(raw), 1);
    }
    std::string ReadState(const std::string& file) { return ReadWholeFile(data_ + "/" + file); }
};

// The lines of "corvel-store items" output that name key.
std::vector<std::string> ItemLines(const std::string& items, const std::string& key) {
    std::vector<std::string> found;
    std::istringstream lines(items);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.rfind(key + "\t", 0) == 0) found.push_back(line);
    }
    return found;
}

size_t LineCount(const std::string& text) {
    size_t count = 0;
    for (char c : text) count += c == '\n' ? 1 : 0;
    return count;
}

// The answer part of one appointment sent as Add (the fields corvel writes for
// an appointment of subject, start and end).
std::string AppointmentAdd(const std::string& key, const std::string& subject,
                           const std::string& start, const std::string& end) {
    return AnsweredElement("Add", key,
                           {"2:Subject " + subject, "2:Start " + start, "2:End " + end});
}

std::string TaskAdd(const std::string& key, const std::string& subject) {
    return AnsweredElement("Add", key, {"3:TaskSubject " + subject});
}

TEST_F(VantroSync, DayWindowsLeaveOlderAppointmentsAndTasksOut) {
    AddUser("alice", "Secret");
    std::string oldMeeting = AddItem(
        "Calendar", "IPM.Appointment",
        {"PR_SUBJECT=Old meeting", "PSETID_Appointment:0x820D:PT_SYSTIME=2020-03-02T09:00:00Z",
         "PSETID_Appointment:0x820E:PT_SYSTIME=2020-03-02T10:00:00Z"});
    std::string planned = AddItem(
        "Calendar", "IPM.Appointment",
        {"PR_SUBJECT=Planned meeting", "PSETID_Appointment:0x820D:PT_SYSTIME=2030-03-07T14:00:00Z",
         "PSETID_Appointment:0x820E:PT_SYSTIME=2030-03-07T15:00:00Z"});
    std::string oldChore = AddItem("Tasks", "IPM.Task", {"PR_SUBJECT=Old chore"});
    std::string newChore = AddItem("Tasks", "IPM.Task", {"PR_SUBJECT=New chore"});
    ASSERT_FALSE(oldMeeting.empty() || planned.empty() || oldChore.empty() || newChore.empty());
    AgeItem(oldChore, 1583139600);  // 2020-03-02 09:00 UTC
    Start();
    const std::string logon = Logon("PPC1_Pocket", "alice", "Secret");

    // Windows from Filter: seven days of appointments (by their end), one day of
    // tasks (by their last change). Only the planned meeting and the new chore go.
    std::string windowed = Exchange(logon + SyncRequest()
                                                .Filter("Appointment", "-3")
                                                .Filter("Task", "-1")
                                                .Get("Appointment")
                                                .Get("Task")
                                                .Text());
    EXPECT_EQ(windowed, AnsweredFolder("-3", 1) +
                            AppointmentAdd(planned, "Planned meeting", "07.03.2030 14:00.00:0",
                                           "07.03.2030 15:00.00:0") +
                            AnsweredFolder("-2", 1) + TaskAdd(newChore, "New chore"));
    // The snapshots hold what was compared and sent, nothing outside the window.
    std::string calendarSnapshot = ReadState("PPC1/-3_temp.1.csv");
    EXPECT_EQ(calendarSnapshot.rfind("Generation=1\n[FolderInfo]\n" + planned + ";", 0), 0u)
        << calendarSnapshot;
    EXPECT_EQ(LineCount(calendarSnapshot), 3u) << calendarSnapshot;
    std::string taskSnapshot = ReadState("PPC1/-2_temp.1.csv");
    EXPECT_EQ(taskSnapshot.rfind("Generation=1\n[FolderInfo]\n" + newChore + ";", 0), 0u)
        << taskSnapshot;
    EXPECT_EQ(LineCount(taskSnapshot), 3u) << taskSnapshot;

    // Acknowledged, then asked for without a window: the older items are new to
    // the device and go now.
    EXPECT_EQ(Exchange(logon + Acks()), "");
    std::string whole = Exchange(logon + SyncRequest().Get("Appointment").Get("Task").Text());
    EXPECT_EQ(whole, AnsweredFolder("-3", 2) +
                         AppointmentAdd(oldMeeting, "Old meeting", "02.03.2020 09:00.00:0",
                                        "02.03.2020 10:00.00:0") +
                         AnsweredFolder("-2", 2) + TaskAdd(oldChore, "Old chore"));

    // The window of a GetData folder alone: the old meeting, now in the baseline,
    // falls out of it and is reported deleted; the tasks folder without a window
    // has nothing new.
    EXPECT_EQ(Exchange(logon + Acks()), "");
    std::string dropped =
        Exchange(logon + SyncRequest().Get("Appointment", {"Filter -3"}).Get("Task").Text());
    EXPECT_EQ(dropped, AnsweredFolder("-3", 3) + AnsweredElement("Delete", oldMeeting));
    // A count outside the codes (-7) is no window: nothing is reported deleted.
    EXPECT_EQ(Exchange(logon + SyncRequest().Get("Appointment", {"Filter -7"}).Text()), "");
    // Nothing in the store was touched by any of this.
    EXPECT_EQ(ItemLines(Store({"items", "Calendar"}), oldMeeting).size(), 1u);
    EXPECT_EQ(ItemLines(Store({"items", "Tasks"}), oldChore).size(), 1u);
}

TEST_F(VantroSync, DeviceChangesAndDeletesOfTasksAndAppointmentsReachTheStore) {
    AddUser("alice", "Secret");
    std::string task = AddItem("Tasks", "IPM.Task", {"PR_SUBJECT=Water plants"});
    std::string other = AddItem("Tasks", "IPM.Task", {"PR_SUBJECT=Keep me"});
    std::string meeting =
        AddItem("Calendar", "IPM.Appointment",
                {"PR_SUBJECT=Review", "PSETID_Appointment:0x820D:PT_SYSTIME=2030-03-07T14:00:00Z",
                 "PSETID_Appointment:0x820E:PT_SYSTIME=2030-03-07T15:00:00Z"});
    ASSERT_FALSE(task.empty() || other.empty() || meeting.empty());
    Start();
    const std::string logon = Logon("PPC1_Pocket", "alice", "Secret");

    // A Modify with the task's ServerID changes that task: no mapping in the
    // answer, no second task in the store.
    EXPECT_EQ(Exchange(logon + SyncRequest()
                                   .Folder("-2", "Task")
                                   .Modify(task, "5",
                                           {"3:TaskSubject Water the plants", "3:TaskImportance 2"})
                                   .Text()),
              "");
    std::string tasks = Store({"items", "Tasks"});
    EXPECT_EQ(LineCount(tasks), 2u) << tasks;
    std::vector<std::string> changed = ItemLines(tasks, task);
    ASSERT_EQ(changed.size(), 1u) << tasks;
    EXPECT_EQ(changed[0].rfind(task + "\tIPM.Task\tWater the plants\t", 0), 0u) << changed[0];
    std::string shown = Store({"show", task});
    EXPECT_NE(shown.find("\tPR_IMPORTANCE\tPT_LONG\t2\n"), std::string::npos) << shown;

    // The device sends back what it got and then deletes the task and the meeting:
    // both are gone from the store, the other task stays.
    const std::string getBoth = SyncRequest().Get("Task").Get("Appointment").Text();
    std::string sent = Exchange(logon + getBoth);
    EXPECT_NE(sent.find("        ServerID " + task +
                        "\n        COLLECTION\n          3:TaskSubject Water the plants\n          "
                        "3:TaskImportance 2\n"),
              std::string::npos)
        << sent;
    EXPECT_EQ(Exchange(logon + Acks() +
                       SyncRequest()
                           .Folder("-2", "Task")
                           .Delete({task})
                           .Folder("-3", "Appointment")
                           .Delete({meeting})
                           .Text()),
              "");
    tasks = Store({"items", "Tasks"});
    EXPECT_TRUE(ItemLines(tasks, task).empty()) << tasks;
    EXPECT_EQ(ItemLines(tasks, other).size(), 1u) << tasks;
    EXPECT_TRUE(ItemLines(Store({"items", "Calendar"}), meeting).empty());
    Store({"show", meeting});
    EXPECT_NE(lastToolCode_, 0);

    // The next answer tells the device of both deletes.
    std::string deletes = Exchange(logon + getBoth);
    EXPECT_EQ(deletes, AnsweredFolder("-2", 2) + AnsweredElement("Delete", task) +
                           AnsweredFolder("-3", 2) + AnsweredElement("Delete", meeting));
}

TEST_F(VantroSync, DeviceReachesOnlyTheFoldersItsUserOffers) {
    AddUser("carol", "pw");
    // carol offers her contacts only.
    std::string record = ReadWholeFile(data_ + "/carol.dxt");
    std::istringstream lines(record);
    std::string line;
    std::string offered;
    size_t dropped = 0;
    while (std::getline(lines, line)) {
        bool contacts = line.find(",-1,") != std::string::npos;
        if (line.rfind("Folder=", 0) == 0 && !contacts) {
            ++dropped;
            continue;
        }
        offered += line + "\n";
    }
    ASSERT_EQ(dropped, 6u) << record;
    WriteWholeFile(data_ + "/carol.dxt", offered);

    Store({"folder", "create", "Archive", "--class", "IPF.Note"});
    ASSERT_EQ(lastToolCode_, 0);
    std::string archiveKey;
    {
        std::smatch match;
        std::string folders = Store({"folders"});
        ASSERT_TRUE(
            std::regex_search(folders, match, std::regex("(^|\n)[^\n]*Archive\t([0-9A-Fa-f]+)\t")))
            << folders;
        archiveKey = match[2].str();
    }
    std::string mail = AddItem("Archive", "IPM.Note", {"PR_SUBJECT=Kept letter"});
    std::string contact =
        AddItem("Contacts", "IPM.Contact", {"PR_DISPLAY_NAME=Doe, Jane", "PR_GIVEN_NAME=Jane"});
    std::string kept =
        AddItem("Contacts", "IPM.Contact", {"PR_DISPLAY_NAME=Roe, Ann", "PR_GIVEN_NAME=Ann"});
    ASSERT_FALSE(mail.empty() || contact.empty() || kept.empty());
    Start();
    const std::string logon = Logon("PPC7_Pocket", "carol", "pw");

    // A delete and a read state for the mail come to nothing; the delete of her
    // own contact in the same request is carried out.
    EXPECT_EQ(Exchange(logon + SyncRequest()
                                   .Folder("-1", "Contact")
                                   .ReadState(mail, "1")
                                   .Delete({mail, contact})
                                   .Text()),
              "");
    EXPECT_EQ(LastBody(), kHeaderOnly);
    auto expectMailUntouched = [&] {
        std::vector<std::string> archived = ItemLines(Store({"items", "Archive"}), mail);
        ASSERT_EQ(archived.size(), 1u);
        EXPECT_EQ(archived[0].rfind(mail + "\tIPM.Note\tKept letter\t", 0), 0u) << archived[0];
        EXPECT_EQ(archived[0].substr(archived[0].rfind('\t')), "\t0") << archived[0];
        std::string shown = Store({"show", mail});
        EXPECT_EQ(shown.find("Intruder"), std::string::npos) << shown;
    };
    expectMailUntouched();
    EXPECT_TRUE(ItemLines(Store({"items", "Contacts"}), contact).empty());

    // GetData of the unoffered folder by its key sends nothing and writes no
    // snapshot for it; the offered contacts in the same request are sent.
    std::string fetched = Exchange(logon + SyncRequest()
                                               .GetServerId(archiveKey, {"Reset 1"})
                                               .Get("Email", {"Reset 1", "Subfolders 1"})
                                               .GetServerId("-1", {"Reset 1"})
                                               .Text());
    EXPECT_EQ(fetched,
              AnsweredFolder("-1", 1, "PPC7") + AnsweredElement("Add", kept, {"1:FirstName Ann"}));
    EXPECT_FALSE(std::filesystem::exists(data_ + "/PPC7/" + archiveKey + "_temp.csv"));

    // A Modify naming the mail by its ServerID leaves the mail as it is and gets
    // no mapping.
    EXPECT_EQ(Exchange(logon + SyncRequest()
                                   .Folder("-1", "Contact")
                                   .Modify(mail, "9", {"1:FirstName Intruder"})
                                   .Text()),
              "");
    expectMailUntouched();
}

}  // namespace
