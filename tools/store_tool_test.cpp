// corvel-store end to end: the built program against a temporary XDG_DATA_HOME.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "common/base/temp_home.h"

namespace {

struct Result {
    int code = -1;
    std::string out;
    std::string err;
};

std::string ReadAll(int fd) {
    std::string s;
    char buf[4096];
    ssize_t n;
    while ((n = ::read(fd, buf, sizeof buf)) > 0) s.append(buf, static_cast<std::size_t>(n));
    return s;
}

class StoreToolTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* bin = std::getenv("CORVEL_BIN_DIR");
        ASSERT_NE(bin, nullptr);
        program_ = std::string(bin) + "/corvel-store";
        ASSERT_FALSE(home_.empty());
    }

    Result Run(std::vector<std::string> args) {
        int out[2], err[2];
        Result r;
        if (::pipe(out) != 0 || ::pipe(err) != 0) return r;
        pid_t pid = ::fork();
        if (pid == 0) {
            ::dup2(out[1], 1);
            ::dup2(err[1], 2);
            ::close(out[0]);
            ::close(err[0]);
            std::vector<char*> argv{program_.data()};
            for (std::string& a : args) argv.push_back(a.data());
            argv.push_back(nullptr);
            ::execv(program_.c_str(), argv.data());
            _exit(127);
        }
        ::close(out[1]);
        ::close(err[1]);
        r.out = ReadAll(out[0]);  // small outputs: stderr fits its pipe meanwhile
        r.err = ReadAll(err[0]);
        ::close(out[0]);
        ::close(err[0]);
        int status = 0;
        ::waitpid(pid, &status, 0);
        r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return r;
    }
    std::string Ok(std::vector<std::string> args) {
        Result r = Run(args);
        EXPECT_EQ(r.code, 0) << r.err;
        return r.out;
    }
    static std::string Line(const std::string& text) { return text.substr(0, text.find('\n')); }

    std::string program_;
    TempHome temp_{"store-tool"};
    const std::string home_{temp_.Path()};
};

TEST_F(StoreToolTest, ProfilesAndDefaultFolders) {
    EXPECT_EQ(Ok({"profile", "create", "Default"}), "Default\n");
    EXPECT_EQ(Ok({"--json", "profile", "create", "Work"}), "{\"profile\":\"Work\"}\n");
    EXPECT_EQ(Ok({"profile", "list"}), "Default\tdefault\nWork\n");
    EXPECT_EQ(Ok({"profile", "list", "--json"}),
              "[{\"name\":\"Default\",\"default\":true},{\"name\":\"Work\",\"default\":false}]\n");
    std::string folders = Ok({"folders"});
    std::string names;
    std::size_t start = 0;
    while (start < folders.size()) {
        std::string line = folders.substr(start, folders.find('\n', start) - start);
        start += line.size() + 1;
        std::size_t tab1 = line.find('\t');
        std::size_t tab2 = line.find('\t', tab1 + 1);
        EXPECT_EQ(tab2 - tab1 - 1, 72u) << line;  // 36-byte entry ID in hexadecimal
        names += line.substr(0, tab1) + "=" + line.substr(tab2 + 1) + ";";
    }
    EXPECT_EQ(
        names,
        "Inbox=IPF.Note\t0;Outbox=IPF.Note\t0;Sent Items=IPF.Note\t0;Deleted Items=IPF.Note\t0;"
        "Drafts=IPF.Note\t0;Contacts=IPF.Contact\t0;Calendar=IPF.Appointment\t0;Tasks=IPF.Task\t0;"
        "Notes=IPF.StickyNote\t0;Journal=IPF.Journal\t0;");
    EXPECT_EQ(
        Ok({"--profile", "Work", "folder", "create", "Inbox/Projects/2010", "--class", "IPF.Task"})
            .size(),
        73u);
    std::string work = Ok({"--profile", "Work", "--json", "folders"});
    EXPECT_NE(work.find("{\"path\":\"Inbox/Projects/2010\",\"entryid\":\""), std::string::npos)
        << work;
    EXPECT_NE(work.find("\"class\":\"IPF.Task\",\"count\":0}"), std::string::npos) << work;
}

TEST_F(StoreToolTest, AddShowSetAndListItems) {
    Ok({"profile", "create", "Default"});
    std::string id =
        Line(Ok({"add", "Contacts", "--class", "IPM.Contact", "PR_DISPLAY_NAME=Doe, John",
                 "PSETID_Address:0x8005=Doe, John", "PR_BIRTHDAY=1980-05-04T00:00:00Z",
                 "PR_CHILDRENS_NAMES=Ann;Bob", "PS_PUBLIC_STRINGS:Keywords=red;blue",
                 "PSETID_Common:Color:PT_LONG=7"}));
    ASSERT_EQ(id.size(), 72u);
    std::string show = Ok({"show", id});
    for (const char* line : {"0x001A001E\tPR_MESSAGE_CLASS\tPT_STRING8\tIPM.Contact\n",
                             "0x3001001E\tPR_DISPLAY_NAME\tPT_STRING8\tDoe, John\n",
                             "0x3A420040\tPR_BIRTHDAY\tPT_SYSTIME\t1980-05-04T00:00:00Z\n",
                             "0x3A58101E\tPR_CHILDRENS_NAMES\tPT_MV_STRING8\tAnn;Bob\n",
                             "0x8000001E\tPSETID_Address:0x8005\tPT_STRING8\tDoe, John\n",
                             "0x8001101E\tPS_PUBLIC_STRINGS:Keywords\tPT_MV_STRING8\tred;blue\n",
                             "0x80020003\tPSETID_Common:Color\tPT_LONG\t7\n",
                             "0x0E070003\tPR_MESSAGE_FLAGS\tPT_LONG\t0\n"}) {
        EXPECT_NE(show.find(line), std::string::npos) << line << show;
    }
    EXPECT_NE(show.find("0x0FFF0102\tPR_ENTRYID\tPT_BINARY\t" + id + "\n"), std::string::npos);
    EXPECT_EQ(Ok({"set", id, "PR_DISPLAY_NAME=Roe, Jane", "PR_IMPORTANCE=2"}), id + "\n");
    std::string json = Ok({"--json", "show", id});
    EXPECT_NE(
        json.find(
            "{\"tag\":\"0x00170003\",\"name\":\"PR_IMPORTANCE\",\"type\":\"PT_LONG\",\"value\":2}"),
        std::string::npos);
    EXPECT_NE(json.find("\"value\":[\"red\",\"blue\"]"), std::string::npos);
    std::string items = Ok({"items", "Contacts"});
    const std::string row = id + "\tIPM.Contact\tRoe, Jane\t";
    EXPECT_EQ(items.substr(0, row.size()), row);
    EXPECT_EQ(items.substr(items.size() - 4), "Z\t0\n");
    std::string jitems = Ok({"--json", "items", "Contacts"});
    const std::string object =
        "[{\"entryid\":\"" + id + "\",\"class\":\"IPM.Contact\",\"subject\":\"Roe, Jane\",";
    EXPECT_EQ(jitems.substr(0, object.size()), object);
}

TEST_F(StoreToolTest, ShowOfSeveralItemsListsEachAfterItsEntryId) {
    Ok({"profile", "create", "Default"});
    std::string a = Line(Ok({"add", "Tasks", "--class", "IPM.Task", "PR_SUBJECT=first"}));
    std::string b = Line(Ok({"add", "Tasks", "--class", "IPM.Task", "PR_SUBJECT=second"}));
    std::string text = Ok({"show", a, b});
    size_t first = text.find("ENTRYID " + a + "\n");
    size_t second = text.find("ENTRYID " + b + "\n");
    ASSERT_NE(first, std::string::npos) << text;
    ASSERT_NE(second, std::string::npos) << text;
    size_t firstSubject = text.find("\tPR_SUBJECT\tPT_STRING8\tfirst\n");
    size_t secondSubject = text.find("\tPR_SUBJECT\tPT_STRING8\tsecond\n");
    EXPECT_TRUE(first < firstSubject && firstSubject < second && second < secondSubject) << text;
    std::string json = Ok({"--json", "show", a, b});
    EXPECT_EQ(json.substr(0, 14 + a.size()), "[{\"entryid\":\"" + a + "\"") << json;
    EXPECT_NE(json.find("},{\"entryid\":\"" + b + "\""), std::string::npos) << json;
    EXPECT_EQ(json.substr(json.size() - 4), "]}]\n") << json;
    // One entry ID that cannot be opened: an error and nothing of the others.
    Result bad = Run({"show", a, "0102"});
    EXPECT_EQ(bad.code, 1);
    EXPECT_EQ(bad.out, "");
}

TEST_F(StoreToolTest, MoveCopyReadAttachRecipientDelete) {
    Ok({"profile", "create", "Default"});
    Ok({"folder", "create", "Inbox/Archive"});
    std::string id = Line(Ok({"add", "Inbox", "--class", "IPM.Note", "PR_SUBJECT=Hello"}));
    std::string copy = Line(Ok({"copy", id, "Inbox/Archive"}));
    ASSERT_EQ(copy.size(), 72u);
    EXPECT_NE(copy, id);
    EXPECT_EQ(Ok({"move", id, "Drafts"}), id + "\n");  // the entry ID stays
    EXPECT_EQ(Ok({"items", "Inbox"}), "");
    EXPECT_EQ(Ok({"read", id, "1"}), id + "\n");
    EXPECT_EQ(Ok({"items", "Drafts"}).substr(Ok({"items", "Drafts"}).size() - 2), "1\n");
    std::string file = home_ + "/note.txt";
    { std::ofstream(file) << "attached text"; }
    EXPECT_EQ(Ok({"attach", id, file}), "0\n");
    EXPECT_EQ(Ok({"recipient", id, "cc", "Ann Example", "ann@example.org"}), id + "\n");
    std::string show = Ok({"show", id});
    EXPECT_NE(show.find("PR_HASATTACH\tPT_BOOLEAN\ttrue"), std::string::npos) << show;
    EXPECT_EQ(Ok({"delete", id}), id + "\n");
    Result gone = Run({"show", id});
    EXPECT_EQ(gone.code, 1);
    EXPECT_EQ(gone.err.substr(0, 36), "error: MAPI_E_NOT_FOUND (0x8004010F)");
    EXPECT_NE(Ok({"items", "Inbox/Archive"}).find("\tHello\t"), std::string::npos);
}

TEST_F(StoreToolTest, BadInputGivesTheMapiErrorAndChangesNothing) {
    Ok({"profile", "create", "Default"});
    std::string id = Line(Ok({"add", "Contacts", "--class", "IPM.Contact", "PR_SUBJECT=keep"}));
    struct Case {
        std::vector<std::string> args;
        std::string error;
    };
    const std::vector<Case> cases = {
        {{"set", id, "PR_IMPORTANCE=high"},
         "error: MAPI_E_BAD_VALUE (0x80040301): value 'high' is not a PT_LONG\n"},
        {{"set", id, "PR_NO_SUCH=1"},
         "error: MAPI_E_INVALID_PARAMETER (0x80070057): unknown property 'PR_NO_SUCH'\n"},
        {{"set", id, "PR_ENTRYID=00"},
         "error: MAPI_E_COMPUTED (0x8004011A): cannot set PR_ENTRYID\n"},
        {{"set", id, "PSETID_Task:0x9999=1"},
         "error: MAPI_E_INVALID_PARAMETER (0x80070057): 'PSETID_Task:0x9999' needs a type "
         "(SET:ID:TYPE)\n"},
        {{"show", "XYZ"}, "error: MAPI_E_INVALID_ENTRYID (0x80040107): 'XYZ' is not an entry ID\n"},
        {{"show", "0102"}, "error: MAPI_E_INVALID_ENTRYID (0x80040107): cannot open entry 0102\n"},
        {{"items", "Nowhere"}, "error: MAPI_E_NOT_FOUND (0x8004010F): no folder 'Nowhere'\n"},
        {{"read", id, "2"},
         "error: MAPI_E_INVALID_PARAMETER (0x80070057): the read flag is 0 or 1\n"},
        {{"--profile", "Nobody", "folders"},
         "error: MAPI_E_LOGON_FAILED (0x80040111): cannot log on to profile 'Nobody'\n"},
        {{"add", "Contacts", "--class", "IPM.Contact", "PR_SUBJECT=new", "PR_IMPORTANCE=x"},
         "error: MAPI_E_BAD_VALUE (0x80040301): value 'x' is not a PT_LONG\n"},
    };
    for (const Case& c : cases) {
        Result r = Run(c.args);
        EXPECT_EQ(r.code, 1) << c.error;
        EXPECT_EQ(r.err, c.error);
    }
    Result json = Run({"--json", "show", "XYZ"});
    EXPECT_EQ(json.out,
              "{\"error\":\"MAPI_E_INVALID_ENTRYID\",\"code\":\"0x80040107\",\"message\":\"'XYZ' "
              "is not an entry ID\"}\n");
    EXPECT_EQ(Run({"frobnicate"}).code, 2);
    // The item is as it was, and no second item appeared.
    std::string items = Ok({"items", "Contacts"});
    EXPECT_EQ(std::count(items.begin(), items.end(), '\n'), 1);
    EXPECT_NE(items.find("\tkeep\t"), std::string::npos);
}

TEST_F(StoreToolTest, ACorruptStoreFileIsReportedNotCrashedOn) {
    Ok({"profile", "create", "Default"});
    for (const auto& entry :
         std::filesystem::directory_iterator(home_ + "/MAPI/Profiles/Default")) {
        if (entry.path().extension() == ".db") {
            std::filesystem::remove(entry.path().string() + "-wal");
            std::filesystem::remove(entry.path().string() + "-shm");
            std::ofstream(entry.path(), std::ios::trunc) << std::string(4096, 'Z');
        }
    }
    Result r = Run({"folders"});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "error: MAPI_E_CORRUPT_STORE (0x80040600): cannot open the default store\n");
}

TEST_F(StoreToolTest, AttachmentsAndRecipientsListedAndExtracted) {
    Ok({"profile", "create", "Default"});
    std::string id = Line(Ok({"add", "Inbox", "--class", "IPM.Note", "PR_SUBJECT=Post"}));
    EXPECT_EQ(Ok({"attachments", id}), "");
    std::string file = home_ + "/bericht.bin";
    std::string bytes("a\0b\nc", 5);
    bytes += std::string(70000, 'x');  // more than one read of the stream
    { std::ofstream(file, std::ios::binary) << bytes; }
    EXPECT_EQ(Ok({"attach", id, file}), "0\n");
    EXPECT_EQ(Ok({"recipient", id, "to", "Ann Example", "ann@example.org"}), id + "\n");
    EXPECT_EQ(Ok({"recipient", id, "bcc", "Bob", "bob@example.org"}), id + "\n");
    EXPECT_EQ(Ok({"attachments", id}), "0\tbericht.bin\t70005\n");
    EXPECT_EQ(Ok({"--json", "attachments", id}),
              "[{\"number\":0,\"name\":\"bericht.bin\",\"size\":70005}]\n");
    std::string out = home_ + "/out.bin";
    EXPECT_EQ(Ok({"extract", id, "0", out}),
              "Attachment 0 (bericht.bin, 70005 bytes) written to " + out + "\n");
    std::ifstream in(out, std::ios::binary);
    std::string copied((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(copied, bytes);
    EXPECT_EQ(Ok({"extract", id, "0", "-"}), bytes);
    Result missing = Run({"extract", id, "3", out});
    EXPECT_EQ(missing.code, 1);
    EXPECT_EQ(missing.err,
              "error: MAPI_E_NOT_FOUND (0x8004010F): the item has no attachment 3 (see "
              "attachments)\n");
    EXPECT_EQ(Run({"extract", id, "x", out}).code, 1);
    EXPECT_EQ(Ok({"recipients", id}),
              "to\tAnn Example\tann@example.org\tSMTP\nbcc\tBob\tbob@example.org\tSMTP\n");
    EXPECT_EQ(Ok({"--json", "recipients", id}),
              "[{\"type\":\"to\",\"name\":\"Ann Example\",\"address\":\"ann@example.org\","
              "\"addressType\":\"SMTP\"},{\"type\":\"bcc\",\"name\":\"Bob\",\"address\":"
              "\"bob@example.org\",\"addressType\":\"SMTP\"}]\n");
}

TEST_F(StoreToolTest, UnsetRemovesAPropertyInsteadOfStoringAnEmptyText) {
    Ok({"profile", "create", "Default"});
    std::string id = Line(Ok({"add", "Contacts", "--class", "IPM.Contact", "PR_SUBJECT=Doe",
                              "PSETID_Address:0x8005:PT_STRING8=Doe, John"}));
    EXPECT_EQ(Ok({"unset", id, "PR_SUBJECT", "PR_IMPORTANCE", "PSETID_Address:0x8005",
                  "PSETID_Task:0x8101"}),
              "PR_SUBJECT removed from " + id + "\nPSETID_Address:0x8005 removed from " + id +
                  "\nPR_IMPORTANCE was not set on " + id + "\nPSETID_Task:0x8101 was not set on " +
                  id + "\n");
    std::string show = Ok({"show", id});
    EXPECT_EQ(show.find("PR_SUBJECT"), std::string::npos) << show;
    EXPECT_EQ(show.find("PSETID_Address:0x8005"), std::string::npos) << show;
    EXPECT_EQ(Ok({"--json", "unset", id, "PR_SUBJECT"}),
              "{\"entryid\":\"" + id + "\",\"removed\":[],\"notSet\":[\"PR_SUBJECT\"]}\n");
    Result computed = Run({"unset", id, "PR_ENTRYID"});
    EXPECT_EQ(computed.code, 1);
    EXPECT_EQ(computed.err, "error: MAPI_E_COMPUTED (0x8004011A): cannot remove PR_ENTRYID\n");
    EXPECT_NE(Ok({"show", id}).find("PR_MESSAGE_CLASS"), std::string::npos);
}

TEST_F(StoreToolTest, FoldersDeletedAndRenamedProfilesDeleted) {
    EXPECT_EQ(Ok({"profile", "create", "Default"}), "Default\n");
    Result twice = Run({"profile", "create", "Default"});
    EXPECT_EQ(twice.code, 1);
    EXPECT_EQ(twice.err,
              "error: MAPI_E_COLLISION (0x80040604): profile 'Default' already exists\n");
    Ok({"folder", "create", "Inbox/Archive/2010"});
    Ok({"add", "Inbox/Archive", "--class", "IPM.Note", "PR_SUBJECT=old"});
    Result full = Run({"folder", "delete", "Inbox/Archive"});
    EXPECT_EQ(full.code, 1);
    EXPECT_EQ(full.err,
              "error: MAPI_E_HAS_MESSAGES (0x8004060A): 'Inbox/Archive' holds 1 item and 1 "
              "sub-folder; add --force to delete them too\n");
    EXPECT_EQ(Ok({"folder", "delete", "Inbox/Archive/2010"}),
              "Folder Inbox/Archive/2010 deleted with 0 items and 0 sub-folders\n");
    EXPECT_EQ(Ok({"folder", "delete", "Inbox/Archive", "--force"}),
              "Folder Inbox/Archive deleted with 1 item and 0 sub-folders\n");
    EXPECT_EQ(Ok({"folders"}).find("Archive"), std::string::npos);
    for (const char* kept : {"Inbox", "Contacts", "Deleted Items", "Tasks"}) {
        Result refused = Run({"folder", "delete", kept, "--force"});
        EXPECT_EQ(refused.code, 1) << kept;
        EXPECT_EQ(refused.err, std::string("error: MAPI_E_NO_ACCESS (0x80070005): '") + kept +
                                   "' is a default folder of the store and stays\n");
    }

    Ok({"folder", "create", "Inbox/A"});
    Ok({"folder", "create", "Inbox/B"});
    Result taken = Run({"folder", "rename", "Inbox/A", "b"});
    EXPECT_EQ(taken.err, "error: MAPI_E_COLLISION (0x80040604): a folder 'B' is there already\n");
    EXPECT_EQ(Run({"folder", "rename", "Inbox/A", "x/y"}).code, 1);
    EXPECT_EQ(Ok({"folder", "rename", "Inbox/A", "Projekte"}),
              "Folder Inbox/A renamed to Inbox/Projekte\n");
    std::string folders = Ok({"folders"});
    EXPECT_NE(folders.find("Inbox/Projekte\t"), std::string::npos) << folders;
    EXPECT_EQ(folders.find("Inbox/A\t"), std::string::npos) << folders;

    Ok({"profile", "create", "Work"});
    EXPECT_EQ(Ok({"profile", "delete", "Work"}), "Profile Work deleted with its stores\n");
    EXPECT_EQ(Ok({"profile", "list"}), "Default\tdefault\n");
    Result gone = Run({"profile", "delete", "Work"});
    EXPECT_EQ(gone.err, "error: MAPI_E_NOT_FOUND (0x8004010F): no profile 'Work'\n");
}

TEST_F(StoreToolTest, ValuesWithLineBreaksAndTabsStayOnTheirLine) {
    Ok({"profile", "create", "Default"});
    std::string id = Line(Ok({"add", "Inbox", "--class", "IPM.Note", "PR_SUBJECT=Plan\tB",
                              "PR_BODY=Zeile 1\r\nZeile 2\\Ende"}));
    std::string show = Ok({"show", id});
    EXPECT_NE(show.find("\tPR_BODY\tPT_STRING8\tZeile 1\\r\\nZeile 2\\\\Ende\n"), std::string::npos)
        << show;
    EXPECT_NE(show.find("\tPR_SUBJECT\tPT_STRING8\tPlan\\tB\n"), std::string::npos) << show;
    std::string items = Ok({"items", "Inbox"});
    EXPECT_EQ(std::count(items.begin(), items.end(), '\n'), 1);
    EXPECT_NE(items.find("\tPlan\\tB\t"), std::string::npos) << items;
    // JSON keeps the value as it is.
    EXPECT_NE(Ok({"--json", "show", id}).find("\"Zeile 1\\r\\nZeile 2\\\\Ende\""),
              std::string::npos);
}

}  // namespace
