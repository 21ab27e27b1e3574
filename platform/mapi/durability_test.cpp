// Durability and concurrency: a writer killed with SIGKILL in the middle of a stream
// of saves leaves a store that opens, passes the integrity check and holds every
// item whole; writers in two processes and several threads share one store.
#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

#include "platform/mapi/test_support.h"

namespace mapitest {
namespace {

constexpr int kItems = 20;
constexpr int kFields = 10;

// The fields every save writes with one value; a whole item has them all equal.
ULONG FieldTag(int k) { return PROP_TAG(PT_LONG, 0x6700 + k); }

class DurabilityTest : public StoreTest {
protected:
    std::vector<std::string> SeedItems() {
        std::vector<std::string> ids;
        for (int k = 0; k < kItems; ++k) {
            std::vector<SPropValue> fields;
            for (int f = 0; f < kFields; ++f) fields.push_back(LongProp(FieldTag(f), 0));
            ids.push_back(AddMessage(contacts.get(), "item", fields));
        }
        return ids;
    }
    void CloseAll() {
        inbox.reset();
        contacts.reset();
        store.reset();
        session.reset();
    }
    void Reopen() {
        ASSERT_EQ(MAPILogonEx(0, const_cast<char*>("Test"), nullptr, 0, session.put()), S_OK);
        store = OpenDefaultStore(session.get());
        ASSERT_TRUE(store);
        inbox = OpenFolder(store.get(), InboxId());
        contacts = OpenFolder(store.get(), GetBinary(inbox.get(), PR_IPM_CONTACT_ENTRYID));
    }
    // Saves forever (in a child): every item in turn gets all fields set to a new
    // value, and a new item is added every few saves. Reports each save on fd.
    [[noreturn]] static void WriteForever(const std::vector<std::string>& ids, int fd) {
        MAPIInitialize(nullptr);
        ComPtr<IMAPISession> s;
        if (FAILED(MAPILogonEx(0, const_cast<char*>("Test"), nullptr, 0, s.put()))) _exit(2);
        auto st = OpenDefaultStore(s.get());
        if (!st) _exit(3);
        ComPtr<IMAPIFolder> folder;
        {
            auto m = OpenMessage(st.get(), ids[0]);
            std::string parent = GetBinary(m.get(), PR_PARENT_ENTRYID);
            folder = OpenFolder(st.get(), parent);
        }
        for (LONG value = 1;; ++value) {
            ComPtr<IMessage> m;
            if (value % 5 == 0) {
                if (FAILED(folder->CreateMessage(nullptr, 0, m.put()))) _exit(4);
            } else {
                m = OpenMessage(st.get(), ids[static_cast<std::size_t>(value) % ids.size()]);
            }
            if (!m) _exit(5);
            std::vector<SPropValue> fields;
            for (int f = 0; f < kFields; ++f) fields.push_back(LongProp(FieldTag(f), value));
            if (FAILED(m->SetProps(kFields, fields.data(), nullptr)) || FAILED(m->SaveChanges(0)))
                _exit(6);
            char c = 1;
            if (::write(fd, &c, 1) != 1) _exit(7);
        }
    }
};

TEST_F(DurabilityTest, KilledWriterLeavesEveryItemWhole) {
    std::vector<std::string> ids = SeedItems();
    CloseAll();
    int pipefd[2];
    ASSERT_EQ(::pipe(pipefd), 0);
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(pipefd[0]);
        WriteForever(ids, pipefd[1]);
    }
    ::close(pipefd[1]);
    // Let it get well into its stream of saves, then kill it without warning.
    int saves = 0;
    char c;
    while (saves < 150 && ::read(pipefd[0], &c, 1) == 1) ++saves;
    ASSERT_EQ(::kill(child, SIGKILL), 0);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ::close(pipefd[0]);
    ASSERT_TRUE(WIFSIGNALED(status)) << "writer failed early with " << WEXITSTATUS(status);
    ASSERT_EQ(saves, 150);

    Reopen();
    ASSERT_TRUE(contacts);
    {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open_v2(StoreFile().c_str(), &db, SQLITE_OPEN_READONLY, nullptr),
                  SQLITE_OK);
        sqlite3_stmt* st = nullptr;
        ASSERT_EQ(sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &st, nullptr), SQLITE_OK);
        ASSERT_EQ(sqlite3_step(st), SQLITE_ROW);
        EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)), "ok");
        sqlite3_finalize(st);
        sqlite3_close(db);
    }
    ComPtr<IMAPITable> table;
    ASSERT_EQ(contacts->GetContentsTable(0, table.put()), S_OK);
    std::vector<ULONG> cols = {PR_ENTRYID};
    for (int f = 0; f < kFields; ++f) cols.push_back(FieldTag(f));
    std::vector<ULONG> arr(1 + cols.size());
    arr[0] = static_cast<ULONG>(cols.size());
    std::copy(cols.begin(), cols.end(), arr.begin() + 1);
    LPSRowSet rows = nullptr;
    ASSERT_EQ(HrQueryAllRows(table.get(), reinterpret_cast<LPSPropTagArray>(arr.data()), nullptr,
                             nullptr, 0, &rows),
              S_OK);
    // The seeds plus the new items saved before the kill (one in five saves).
    EXPECT_GE(rows->cRows, static_cast<ULONG>(kItems + 150 / 5));
    int whole = 0;
    for (ULONG r = 0; r < rows->cRows; ++r) {
        const SRow& row = rows->aRow[r];
        bool same = true;
        for (int f = 0; f < kFields; ++f) {
            const SPropValue& v = row.lpProps[1 + f];
            same = same && v.ulPropTag == FieldTag(f) && v.Value.l == row.lpProps[1].Value.l;
        }
        whole += same ? 1 : 0;
    }
    EXPECT_EQ(whole, static_cast<int>(rows->cRows));
    FreeProws(rows);
    // The store takes new saves.
    EXPECT_FALSE(AddMessage(contacts.get(), "after").empty());
}

TEST_F(DurabilityTest, TwoProcessesAndSeveralThreadsWriteOneStore) {
    CloseAll();
    constexpr int kPerWriter = 40;
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        MAPIInitialize(nullptr);
        ComPtr<IMAPISession> s;
        if (FAILED(MAPILogonEx(0, const_cast<char*>("Test"), nullptr, 0, s.put()))) _exit(2);
        auto st = OpenDefaultStore(s.get());
        std::string out = GetBinary(st.get(), PR_IPM_OUTBOX_ENTRYID);
        auto folder = OpenFolder(st.get(), out);
        for (int k = 0; k < kPerWriter; ++k)
            if (AddMessage(folder.get(), "child").empty()) _exit(3);
        _exit(0);
    }
    Reopen();
    std::string outbox = GetBinary(store.get(), PR_IPM_OUTBOX_ENTRYID);
    auto folder = OpenFolder(store.get(), outbox);
    std::vector<std::thread> threads;
    std::atomic<int> failures{0};
    for (int t = 0; t < 3; ++t) {
        threads.emplace_back([&] {
            for (int k = 0; k < kPerWriter; ++k)
                if (AddMessage(folder.get(), "thread").empty()) ++failures;
        });
    }
    for (std::thread& t : threads) t.join();
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(GetLong(folder.get(), PR_CONTENT_COUNT), 4 * kPerWriter);
}

}  // namespace
}  // namespace mapitest
