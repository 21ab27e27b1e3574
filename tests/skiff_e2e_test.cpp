// Skiff and Corvel synchronising over loopback: corvel runs headless over a temporary
// data home with a user made by "corvel user add --auto", skiff is configured and fed
// with "skiff config" and "skiff pim", runs "skiff sync", and the store is inspected
// with corvel-store. What skiff sent is read back from the server's protocol trace.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <filesystem>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "server/config/config_test_util.h"
#include "tests/vantro_process.h"

namespace {

struct Ran {
    int status;
    std::string out;
};

// The request dumps of a protocol trace in short form: one line per element,
// indented by depth, "Name" or "Name value".
std::vector<std::string> TracedRequests(const std::string& trace) {
    std::vector<std::string> requests;
    std::istringstream lines(trace);
    std::string line, current;
    enum { kOutside, kHeader, kBody } state = kOutside;
    bool answer = false;
    const std::regex valued(R"(^( *)<(\w+)>\s*'(.*)'\s*</\w+>\s*$)");
    const std::regex opening(R"(^( *)<(\w+)>\s*$)");
    while (std::getline(lines, line)) {
        if (line.rfind("!!!", 0) == 0) {
            state = kHeader, answer = false;
        } else if (line.rfind("****************** Answer", 0) == 0) {
            state = kHeader, answer = true;
        } else if (line.rfind("---------------------- cut", 0) == 0) {
            if (state == kHeader) {
                state = kBody, current.clear();
            } else if (state == kBody) {
                if (!answer) requests.push_back(current);
                state = kOutside;
            }
        } else if (state == kBody) {
            std::smatch match;
            if (std::regex_match(line, match, valued)) {
                current += match[1].str() + match[2].str() + " " + match[3].str() + "\n";
            } else if (std::regex_match(line, match, opening)) {
                current += match[1].str() + match[2].str() + "\n";
            }
        }
    }
    return requests;
}

// One change of a traced Folder: kind (Add, Modify), the item's ServerID (none for
// an Add), its ClientID and its fields ("FirstName Janet"), one a line.
std::string TracedChange(const std::string& kind, const std::string& serverId,
                         const std::string& clientId, const std::vector<std::string>& fields) {
    std::string out = "   " + kind + "\n";
    if (!serverId.empty()) out += "    ServerID " + serverId + "\n";
    out += "    ClientID " + clientId + "\n    COLLECTION\n";
    for (const std::string& field : fields) out += "     " + field + "\n";
    return out;
}

// The first number after "name": in a one-line JSON object, or -1.
long JsonNumber(const std::string& json, const std::string& name) {
    std::smatch match;
    if (!std::regex_search(json, match, std::regex("\"" + name + "\":(-?[0-9]+)"))) return -1;
    return std::stol(match[1].str());
}

// The Folder element of a traced Sync as skiff writes it, with the changes given;
// reset: the folder holds no mapping yet.
std::string TracedFolder(const std::string& clientId, const std::string& typ,
                         const std::string& name, const std::string& changes = "",
                         bool reset = false) {
    return "  Folder\n"
           "   ServerID \n"
           "   ClientID " +
           clientId +
           "\n"
           "   Typ " +
           typ +
           "\n"
           "   Name " +
           name +
           "\n"
           "   IsDefault 1\n" +
           (reset ? "   Reset 1\n" : "") + changes;
}

const std::string kLogon =
    " Logon\n"
    "  DeviceID [0-9A-F]{17}\n"
    "  UserName alice\n"
    "  Password Secret\n";
// The AckStrings skiff sends back are the server's own, naming the device and the
// state file and a snapshot generation of one of the three folders; whether any are
// pending depends on the answer before.
const std::string kAcknowledge =
    "(?: Acknlowledge\n(?:  AckString "
    "[0-9A-F]{17}:(-[123])\\.csv:\\1_temp\\.[1-9][0-9]*\\.csv\n)+)?";

// The GetData element that ends skiff's Sync: one Folder per folder with Reset 1 on
// the folder's first run.
std::string TracedGetData(int contactsReset, int tasksReset, int calendarReset) {
    std::string text = "  GetData\n";
    const std::pair<const char*, int> folders[] = {
        {"-1", contactsReset}, {"-2", tasksReset}, {"-3", calendarReset}};
    for (const auto& [code, reset] : folders) {
        text += "   Folder\n    ServerID " + std::string(code) + "\n    Reset " +
                std::to_string(reset) + "\n";
    }
    return text;
}

class SkiffEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        TestProgram add("corvel", temp_.Path(),
                        {"user", "add", "alice", "--password", "Secret", "--auto"});
        ASSERT_EQ(add.Wait(), 0) << add.Out();
        corvel_ = std::make_unique<TestProgram>(
            "corvel", temp_.Path(),
            std::vector<std::string>{"--headless", "--port", "0", "--https-port", "0",
                                     "--trace-port", "0"});
        int port = corvel_->Port();
        ASSERT_NE(port, 0) << corvel_->Out();
        Ran config = Skiff({"config", "--server", "127.0.0.1:" + std::to_string(port), "--user",
                            "alice", "--password", "Secret"});
        ASSERT_EQ(config.status, 0) << config.out;
    }

    Ran Program(const std::string& name, std::vector<std::string> args) {
        TestProgram program(name, temp_.Path(), std::move(args));
        int status = program.Wait();
        return {status, program.Out()};
    }
    Ran Skiff(std::vector<std::string> args) { return Program("skiff", std::move(args)); }
    // Adds a PIM item; returns its object identifier as text.
    std::string PimAdd(const std::string& folder, std::vector<std::string> fields) {
        fields.insert(fields.begin(), {"pim", "add", folder, "--json"});
        Ran add = Skiff(fields);
        long oid = JsonNumber(add.out, "oid");
        EXPECT_EQ(add.status, 0) << add.out;
        EXPECT_GT(oid, 0) << add.out;
        return std::to_string(oid);
    }
    // One "skiff sync --json"; its JSON line (log lines go to standard error, which
    // the test collects with it).
    std::string Sync(int expectedStatus = 0) {
        Ran sync = Skiff({"sync", "--json"});
        EXPECT_EQ(sync.status, expectedStatus) << sync.out;
        std::smatch match;
        if (!std::regex_search(sync.out, match, std::regex("\\{\"started\"[^\n]*\\}")))
            return sync.out;
        return match[0].str();
    }
    std::vector<std::string> Requests() {
        return TracedRequests(ReadWholeFile(temp_.Path() + "/Norvex/Corvel/wbxml.log"));
    }
    std::string LastRequest() {
        std::vector<std::string> all = Requests();
        return all.empty() ? "" : all.back();
    }
    // The server key the client's id map file records for oid, or "".
    std::string ServerKey(const std::string& mapFile, const std::string& oid) {
        std::string map = ReadWholeFile(temp_.Path() + "/Documents/Norvex/VantroMobile/" + mapFile);
        std::smatch match;
        if (!std::regex_search(map, match, std::regex("(?:^|\n)([0-9A-F]+)=" + Cid(oid) + "\n")))
            return "";
        return match[1].str();
    }
    // The identity of the handheld's PIM store, as skiff records it for its files.
    std::string StoreIdentity() {
        std::string file = ReadWholeFile(temp_.Path() + "/Documents/Norvex/VantroMobile/store.txt");
        std::smatch match;
        return std::regex_search(file, match, std::regex("Store=([0-9A-F]{16})\n")) ? match[1].str()
                                                                                    : "";
    }
    // The ClientID of an item: its object identifier and the store's identity.
    std::string Cid(const std::string& oid) { return oid + "@" + StoreIdentity(); }
    std::string Show(const std::string& key) { return Program("corvel-store", {"show", key}).out; }
    // Each of parts is in what corvel-store shows of the item key.
    void ExpectShown(const std::string& key, std::initializer_list<const char*> parts) {
        const std::string shown = Show(key);
        for (const char* part : parts)
            EXPECT_NE(shown.find(part), std::string::npos) << part << shown;
    }
    // The number of items of a store folder.
    size_t ItemCount(const std::string& folder) {
        std::string items = Program("corvel-store", {"items", folder}).out;
        size_t lines = 0;
        for (char c : items) lines += c == '\n';
        return lines;
    }

    TempFolder temp_;
    std::unique_ptr<TestProgram> corvel_;
};

// Whether the request is Logon, any acknowledgements, then Sync with exactly the
// folders and the GetData given.
void ExpectRequest(const std::string& request, const std::string& folders,
                   const std::string& getData) {
    std::smatch match;
    ASSERT_TRUE(
        std::regex_search(request, match, std::regex("^" + kLogon + kAcknowledge + " Sync\n")))
        << request;
    EXPECT_EQ(request.substr(static_cast<size_t>(match.length(0))), folders + getData);
}

TEST_F(SkiffEndToEnd, FirstRunSendsEveryItemAsAddAndTheStoreHoldsThemWithTheirFields) {
    std::string contact =
        PimAdd("contacts", {"FirstName=Jürgen", "LastName=Groß", "FileAs=Groß, Jürgen",
                            "BusinessTelephoneNumber=+49 30 1234", "Birthday=1980-05-17"});
    std::string task = PimAdd(
        "tasks", {"TaskSubject=Angebot schreiben", "TaskDueDate=2026-12-24", "TaskImportance=2"});
    std::string appointment =
        PimAdd("calendar", {"Subject=Planung", "Location=Raum 3", "Start=2026-12-10 09:00",
                            "End=2026-12-10 10:30", "Duration=90"});

    std::string result = Sync();
    EXPECT_EQ(JsonNumber(result, "folders"), 3) << result;
    EXPECT_EQ(JsonNumber(result, "itemsSent"), 3) << result;
    EXPECT_EQ(JsonNumber(result, "mappings"), 3) << result;

    // Dates in the server's form, text in UTF-8, every item an Add with its ClientID.
    ExpectRequest(
        LastRequest(),
        TracedFolder("-1", "Contacts", "Kontakte",
                     TracedChange("Add", "", Cid(contact),
                                  {"ClientID " + contact, "Birthday 17.05.1980 00:00.00:0",
                                   "BusinessTelephoneNumber +49 30 1234", "FirstName Jürgen",
                                   "LastName Groß", "FileAs Groß, Jürgen"}),
                     true) +
            TracedFolder("-2", "Task", "Aufgaben",
                         TracedChange("Add", "", Cid(task),
                                      {"TaskIsRecurring 0", "TaskSubject Angebot schreiben",
                                       "TaskDueDate 24.12.2026 00:00.00:0", "TaskImportance 2",
                                       "TaskComplete 0", "TaskSensitivity 0", "TaskTeamTask 0",
                                       "TaskReminderSet 0", "TaskReminderOptions 0"}),
                         true) +
            TracedFolder(
                "-3", "Appointment", "Appointment",
                TracedChange("Add", "", Cid(appointment),
                             {"Subject Planung", "Location Raum 3", "Start 10.12.2026 09:00.00:0",
                              "Duration 90", "End 10.12.2026 10:30.00:0", "AllDayEvent 0",
                              "BusyStatus 0", "Sensitivity 0", "ReminderSet 0"}),
                true),
        TracedGetData(1, 1, 1));

    // The mappings came back into the id maps, and name the store's items.
    std::string contactKey = ServerKey("contacts.txt", contact);
    std::string taskKey = ServerKey("tasks.txt", task);
    std::string appointmentKey = ServerKey("appointment.txt", appointment);
    ASSERT_FALSE(contactKey.empty() || taskKey.empty() || appointmentKey.empty());
    EXPECT_EQ(ReadWholeFile(temp_.Path() + "/Documents/Norvex/VantroMobile/contacts.txt"),
              contactKey + "=" + Cid(contact) + "\n");

    ExpectShown(contactKey,
                {"\tPR_MESSAGE_CLASS\tPT_STRING8\tIPM.Contact\n",
                 "\tPR_GIVEN_NAME\tPT_STRING8\tJürgen\n", "\tPR_SURNAME\tPT_STRING8\tGroß\n",
                 "\tPR_BUSINESS_TELEPHONE_NUMBER\tPT_STRING8\t+49 30 1234\n",
                 "\tPR_BIRTHDAY\tPT_SYSTIME\t1980-05-17T00:00:00Z\n"});
    ExpectShown(taskKey,
                {"\tPR_MESSAGE_CLASS\tPT_STRING8\tIPM.Task\n",
                 "\tPR_SUBJECT\tPT_STRING8\tAngebot schreiben\n", "\tPR_IMPORTANCE\tPT_LONG\t2\n",
                 "\tPSETID_Task:0x8105\tPT_SYSTIME\t2026-12-24T00:00:00Z\n"});
    ExpectShown(appointmentKey, {"\tPR_MESSAGE_CLASS\tPT_STRING8\tIPM.Appointment\n",
                                 "\tPR_SUBJECT\tPT_STRING8\tPlanung\n",
                                 "\tPSETID_Appointment:0x8208\tPT_STRING8\tRaum 3\n",
                                 "\tPSETID_Appointment:0x820D\tPT_SYSTIME\t2026-12-10T09:00:00Z\n",
                                 "\tPSETID_Appointment:0x820E\tPT_SYSTIME\t2026-12-10T10:30:00Z\n",
                                 "\tPSETID_Appointment:0x8213\tPT_LONG\t90\n"});
}

TEST_F(SkiffEndToEnd, AfterSaveOnlyChangesTravelAndUnchangedFoldersGoEmpty) {
    std::string contact =
        PimAdd("contacts", {"FirstName=Jane", "LastName=Doe", "FileAs=Doe, Jane"});
    PimAdd("tasks", {"TaskSubject=Bericht"});
    PimAdd("calendar",
           {"Subject=Jour fixe", "Start=2026-12-11 08:00", "End=2026-12-11 08:30", "Duration=30"});
    Sync();
    std::string contactKey = ServerKey("contacts.txt", contact);
    ASSERT_FALSE(contactKey.empty());
    // The Save button writes the snapshots the next run compares with.
    Ran save = Skiff({"save", "--json"});
    ASSERT_EQ(save.status, 0) << save.out;

    std::string result = Sync();
    EXPECT_EQ(JsonNumber(result, "itemsSent"), 0) << result;
    EXPECT_EQ(JsonNumber(result, "mappings"), 0) << result;
    ExpectRequest(LastRequest(),
                  TracedFolder("-1", "Contacts", "Kontakte") +
                      TracedFolder("-2", "Task", "Aufgaben") +
                      TracedFolder("-3", "Appointment", "Appointment"),
                  TracedGetData(0, 0, 0));

    // A changed contact goes as Modify with its server key and the fields that
    // changed, a new task and appointment as Add, whole.
    Ran set = Skiff({"pim", "set", contact, "FirstName=Janet", "HomeTelephoneNumber=030 555"});
    ASSERT_EQ(set.status, 0) << set.out;
    std::string task = PimAdd(
        "tasks", {"TaskSubject=Steuer", "TaskStartDate=2027-01-04", "TaskDueDate=2027-01-31 12:00",
                  "TaskSensitivity=2", "TaskImportance=1", "TaskCategories=Büro"});
    std::string appointment = PimAdd(
        "calendar", {"Subject=Chor", "Location=Aula", "Start=2026-12-14 19:30",
                     "End=2026-12-14 21:00", "Duration=90", "BusyStatus=2", "ReminderSet=1"});
    result = Sync();
    EXPECT_EQ(JsonNumber(result, "itemsSent"), 3) << result;
    ExpectRequest(
        LastRequest(),
        TracedFolder("-1", "Contacts", "Kontakte",
                     TracedChange("Modify", contactKey, Cid(contact),
                                  {"HomeTelephoneNumber 030 555", "FirstName Janet"})) +
            TracedFolder("-2", "Task", "Aufgaben",
                         TracedChange("Add", "", Cid(task),
                                      {"TaskIsRecurring 0", "TaskSubject Steuer",
                                       "TaskCategories Büro", "TaskStartDate 04.01.2027 00:00.00:0",
                                       "TaskDueDate 31.01.2027 12:00.00:0", "TaskImportance 1",
                                       "TaskComplete 0", "TaskSensitivity 2", "TaskTeamTask 0",
                                       "TaskReminderSet 0", "TaskReminderOptions 0"})) +
            TracedFolder(
                "-3", "Appointment", "Appointment",
                TracedChange("Add", "", Cid(appointment),
                             {"Subject Chor", "Location Aula", "Start 14.12.2026 19:30.00:0",
                              "Duration 90", "End 14.12.2026 21:00.00:0", "AllDayEvent 0",
                              "BusyStatus 2", "Sensitivity 0", "ReminderSet -1"})),
        TracedGetData(0, 0, 0));

    // The Modify changed the stored contact in place.
    EXPECT_EQ(ServerKey("contacts.txt", contact), contactKey);
    EXPECT_EQ(ItemCount("Contacts"), 1u);
    ExpectShown(contactKey, {"\tPR_GIVEN_NAME\tPT_STRING8\tJanet\n",
                             "\tPR_HOME_TELEPHONE_NUMBER\tPT_STRING8\t030 555\n"});
    EXPECT_EQ(ItemCount("Tasks"), 2u);
    EXPECT_EQ(ItemCount("Calendar"), 2u);
    std::string taskKey = ServerKey("tasks.txt", task);
    std::string appointmentKey = ServerKey("appointment.txt", appointment);
    ASSERT_FALSE(taskKey.empty() || appointmentKey.empty());
    ExpectShown(taskKey, {"\tPR_SUBJECT\tPT_STRING8\tSteuer\n", "\tPR_SENSITIVITY\tPT_LONG\t2\n",
                          "\tPSETID_Task:0x8104\tPT_SYSTIME\t2027-01-04T00:00:00Z\n",
                          "\tPSETID_Task:0x8105\tPT_SYSTIME\t2027-01-31T12:00:00Z\n", "Büro"});
    ExpectShown(
        appointmentKey,
        {"\tPR_SUBJECT\tPT_STRING8\tChor\n", "\tPSETID_Appointment:0x8208\tPT_STRING8\tAula\n",
         "\tPSETID_Appointment:0x820D\tPT_SYSTIME\t2026-12-14T19:30:00Z\n",
         "\tPSETID_Appointment:0x820E\tPT_SYSTIME\t2026-12-14T21:00:00Z\n",
         "\tPSETID_Appointment:0x8205\tPT_LONG\t2\n", "\tPSETID_Appointment:0x8213\tPT_LONG\t90\n",
         "\tPSETID_Appointment:0x8215\tPT_BOOLEAN\tfalse\n",
         "\tPSETID_Common:0x8503\tPT_BOOLEAN\ttrue\n"});
}

// A run after a whole answer sends nothing again. Without their snapshots the items
// count as new, but their server keys are known, so they go as Modify with the key
// (and the folders ask for everything again) and the store keeps one of each.
TEST_F(SkiffEndToEnd, ItemsSentAgainWithoutSnapshotAreNotDuplicated) {
    std::string contact =
        PimAdd("contacts", {"FirstName=Jane", "LastName=Doe", "FileAs=Doe, Jane"});
    std::string task = PimAdd("tasks", {"TaskSubject=Bericht"});
    Sync();
    std::string contactKey = ServerKey("contacts.txt", contact);
    std::string taskKey = ServerKey("tasks.txt", task);
    ASSERT_FALSE(contactKey.empty() || taskKey.empty());
    std::string result = Sync();
    EXPECT_EQ(JsonNumber(result, "itemsSent"), 0) << result;

    const std::string folder = temp_.Path() + "/Documents/Norvex/VantroMobile";
    std::filesystem::remove(folder + "/contacts.dat");
    std::filesystem::remove(folder + "/tasks.dat");
    result = Sync();
    EXPECT_EQ(JsonNumber(result, "itemsSent"), 2) << result;
    EXPECT_EQ(JsonNumber(result, "mappings"), 0) << result;
    std::string request = LastRequest();
    EXPECT_NE(request.find("   Modify\n    ServerID " + contactKey + "\n    ClientID " +
                           Cid(contact) + "\n"),
              std::string::npos)
        << request;
    EXPECT_NE(
        request.find("   Modify\n    ServerID " + taskKey + "\n    ClientID " + Cid(task) + "\n"),
        std::string::npos)
        << request;
    // The folders hold their mappings: no pairing by name.
    EXPECT_EQ(request.find("IsDefault 1\n   Reset 1\n"), std::string::npos) << request;
    EXPECT_EQ(request.find("   Add\n"), std::string::npos) << request;
    EXPECT_EQ(request.substr(request.find("  GetData\n")), TracedGetData(1, 1, 0));
    EXPECT_EQ(ItemCount("Contacts"), 1u);
    EXPECT_EQ(ItemCount("Tasks"), 1u);
    EXPECT_EQ(ReadWholeFile(folder + "/contacts.txt"), contactKey + "=" + Cid(contact) + "\n");
    EXPECT_EQ(ReadWholeFile(folder + "/tasks.txt"), taskKey + "=" + Cid(task) + "\n");
}

TEST_F(SkiffEndToEnd, AWrongPasswordTakesNothingAndTheChangesTravelOnceItIsRight) {
    std::string jane = PimAdd("contacts", {"FirstName=Jane", "LastName=Doe", "FileAs=Doe, Jane"});
    ASSERT_EQ(Skiff({"config", "--password", "Wrong"}).status, 0);
    std::string refused = Sync(1);
    EXPECT_NE(refused.find("\"error\":\"answer status 403\""), std::string::npos) << refused;
    EXPECT_EQ(JsonNumber(refused, "foldersSaved"), 0) << refused;
    EXPECT_EQ(ItemCount("Contacts"), 0u);

    // Nothing was taken as sent: with the right password the contact travels.
    ASSERT_EQ(Skiff({"config", "--password", "Secret"}).status, 0);
    std::string result = Sync();
    EXPECT_EQ(JsonNumber(result, "itemsSent"), 1) << result;
    EXPECT_EQ(JsonNumber(result, "mappings"), 1) << result;
    EXPECT_EQ(ItemCount("Contacts"), 1u);
    EXPECT_FALSE(ServerKey("contacts.txt", jane).empty());
}

TEST_F(SkiffEndToEnd, SyncWhileARunHoldsTheDataFolderStartsNoSecondRun) {
    PimAdd("contacts", {"FirstName=Jane", "LastName=Doe", "FileAs=Doe, Jane"});
    std::string folder = temp_.Path() + "/Documents/Norvex/VantroMobile";
    std::filesystem::create_directories(folder);
    {
        // A run in progress holds the data folder's lock.
        int fd = ::open((folder + "/skiff.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
        std::string refused = Sync(1);
        ::close(fd);
        EXPECT_EQ(
            refused,
            "{\"started\":false,\"folders\":0,\"itemsSent\":0,\"sent\":false,\"answered\":false,"
            "\"itemsApplied\":0,\"mappings\":0,\"foldersSaved\":0,\"stopped\":false,"
            "\"error\":\"Sync in progress\",\"deletesSent\":0,\"acksSent\":0,\"deletesApplied\":0,"
            "\"failed\":0,\"acksKept\":0,\"massDeleteHeld\":false,\"newHandheldStore\":false,"
            "\"conflicts\":0,\"notStored\":0,\"report\":[],\"reportLine\":\"\"}");
        EXPECT_TRUE(Requests().empty());
        EXPECT_EQ(ItemCount("Contacts"), 0u);
    }
    std::string result = Sync();
    EXPECT_EQ(JsonNumber(result, "itemsSent"), 1) << result;
    EXPECT_EQ(Requests().size(), 1u);
    EXPECT_EQ(ItemCount("Contacts"), 1u);
}

}  // namespace
