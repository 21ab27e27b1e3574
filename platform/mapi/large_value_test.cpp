// Large binary values: written and read through streams in pieces, kept in chunk
// rows, carried along by saves, copies and deletions; values stored whole still read.
#include <sqlite3.h>

#include <random>

#include "platform/mapi/test_support.h"

namespace mapitest {
namespace {

constexpr std::size_t kPiece = 65536;

std::string RandomBytes(std::size_t n, unsigned seed) {
    std::mt19937 gen(seed);
    std::string out(n, '\0');
    for (char& c : out) c = static_cast<char>(gen());
    return out;
}

ComPtr<IStream> OpenStream(IMAPIProp* obj, ULONG tag, ULONG flags) {
    ComPtr<IUnknown> unk;
    if (FAILED(obj->OpenProperty(tag, &IID_IStream, 0, flags, unk.put()))) return {};
    ComPtr<IStream> s;
    if (FAILED(unk->QueryInterface(IID_IStream, reinterpret_cast<void**>(s.put())))) return {};
    return s;
}

std::string ReadStream(IStream* s) {
    std::string out, buf(kPiece, '\0');
    for (;;) {
        ULONG got = 0;
        if (FAILED(s->Read(buf.data(), static_cast<ULONG>(buf.size()), &got))) return "read failed";
        if (got == 0) return out;
        out.append(buf.data(), got);
    }
}

class LargeValueTest : public StoreTest {
protected:
    // A message in the inbox with one attachment whose data is written through a stream.
    std::string AddAttachment(const std::string& data) {
        ComPtr<IMessage> m;
        EXPECT_EQ(inbox->CreateMessage(nullptr, 0, m.put()), S_OK);
        EXPECT_EQ(Set(m.get(), StringProp(PR_SUBJECT, "big")), S_OK);
        ULONG num = 0;
        ComPtr<IAttach> att;
        EXPECT_EQ(m->CreateAttach(nullptr, 0, &num, att.put()), S_OK);
        EXPECT_EQ(Set(att.get(), StringProp(PR_ATTACH_LONG_FILENAME, "big.bin")), S_OK);
        auto s = OpenStream(att.get(), PR_ATTACH_DATA_BIN, MAPI_CREATE | MAPI_MODIFY);
        EXPECT_TRUE(s);
        if (!s) return {};
        for (std::size_t at = 0; at < data.size(); at += kPiece) {
            ULONG n = static_cast<ULONG>(std::min(kPiece, data.size() - at));
            ULONG written = 0;
            EXPECT_EQ(s->Write(data.data() + at, n, &written), S_OK);
            EXPECT_EQ(written, n);
        }
        EXPECT_EQ(s->Commit(0), S_OK);
        EXPECT_EQ(att->SaveChanges(0), S_OK);
        EXPECT_EQ(m->SaveChanges(KEEP_OPEN_READWRITE), S_OK);
        return GetBinary(m.get(), PR_ENTRYID);
    }

    std::string AttachmentData(const std::string& id) {
        auto m = OpenMessage(store.get(), id, 0);
        ComPtr<IAttach> att;
        if (!m || FAILED(m->OpenAttach(0, nullptr, 0, att.put()))) return "no attachment";
        auto s = OpenStream(att.get(), PR_ATTACH_DATA_BIN, 0);
        return s ? ReadStream(s.get()) : "no stream";
    }

    // A count from the store file, read beside the engine.
    std::int64_t Count(const char* sql) {
        sqlite3* db = nullptr;
        std::int64_t n = -1;
        if (sqlite3_open_v2(StoreFile().c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
            sqlite3_stmt* st = nullptr;
            if (sqlite3_prepare_v2(db, sql, -1, &st, nullptr) == SQLITE_OK &&
                sqlite3_step(st) == SQLITE_ROW)
                n = sqlite3_column_int64(st, 0);
            sqlite3_finalize(st);
        }
        sqlite3_close(db);
        return n;
    }
};

TEST_F(LargeValueTest, StreamedAttachmentIsStoredInChunkRowsAndReadsBackExactly) {
    const std::string data = RandomBytes(5 * 1024 * 1024 + 123, 1);
    std::string id = AddAttachment(data);
    EXPECT_EQ(Count("SELECT count(*) FROM chunks"), 6);
    EXPECT_EQ(Count("SELECT size FROM blobs"), static_cast<std::int64_t>(data.size()));
    EXPECT_EQ(Count("SELECT count(*) FROM props WHERE type = 258 AND typeof(val) = 'integer'"), 1);
    EXPECT_EQ(AttachmentData(id), data);

    auto m = OpenMessage(store.get(), id, 0);
    ComPtr<IAttach> att;
    ASSERT_EQ(m->OpenAttach(0, nullptr, 0, att.put()), S_OK);
    auto s = OpenStream(att.get(), PR_ATTACH_DATA_BIN, 0);
    ASSERT_TRUE(s);
    STATSTG st{};
    ASSERT_EQ(s->Stat(&st, STATFLAG_NONAME), S_OK);
    EXPECT_EQ(st.cbSize.QuadPart, data.size());
    // A read across a chunk boundary, after a seek.
    LARGE_INTEGER to{};
    to.QuadPart = 1024 * 1024 - 10;
    ASSERT_EQ(s->Seek(to, STREAM_SEEK_SET, nullptr), S_OK);
    std::string mid(20, '\0');
    ULONG got = 0;
    ASSERT_EQ(s->Read(mid.data(), 20, &got), S_OK);
    EXPECT_EQ(got, 20u);
    EXPECT_EQ(mid, data.substr(1024 * 1024 - 10, 20));
    // Asked for whole, the value comes whole; the size counts it.
    EXPECT_EQ(GetBinary(att.get(), PR_ATTACH_DATA_BIN), data);
    EXPECT_GE(GetLong(att.get(), PR_ATTACH_SIZE), static_cast<LONG>(data.size()));
    // Tables name the attachment but do not carry its data.
    ComPtr<IMAPITable> table;
    ASSERT_EQ(m->GetAttachmentTable(0, table.put()), S_OK);
    EXPECT_EQ(Column(table.get(), PR_ATTACH_LONG_FILENAME), (std::vector<std::string>{"big.bin"}));
    EXPECT_EQ(Column(table.get(), PR_ATTACH_DATA_BIN), (std::vector<std::string>{"-"}));
}

TEST_F(LargeValueTest, SavesCopiesAndDeletionsKeepOneBlobPerValue) {
    const std::string data = RandomBytes(3 * 1024 * 1024, 2);
    std::string id = AddAttachment(data);
    {
        // The attachment saved again with another property: its data stays.
        auto m = OpenMessage(store.get(), id);
        ComPtr<IAttach> att;
        ASSERT_EQ(m->OpenAttach(0, nullptr, MAPI_MODIFY, att.put()), S_OK);
        ASSERT_EQ(Set(att.get(), StringProp(PR_DISPLAY_NAME, "renamed")), S_OK);
        ASSERT_EQ(att->SaveChanges(0), S_OK);
        ASSERT_EQ(m->SaveChanges(0), S_OK);
    }
    EXPECT_EQ(AttachmentData(id), data);
    EXPECT_EQ(Count("SELECT count(*) FROM blobs"), 1);

    SBinary bin{static_cast<ULONG>(id.size()), reinterpret_cast<LPBYTE>(id.data())};
    ENTRYLIST list{1, &bin};
    ASSERT_EQ(inbox->CopyMessages(&list, nullptr, contacts.get(), 0, nullptr, 0), S_OK);
    EXPECT_EQ(Count("SELECT count(*) FROM blobs"), 2);
    ASSERT_EQ(inbox->DeleteMessages(&list, 0, nullptr, 0), S_OK);
    EXPECT_EQ(Count("SELECT count(*) FROM blobs"), 1);

    const std::vector<std::string> ids = MessageIds(contacts.get());
    ASSERT_EQ(ids.size(), 1u);
    std::string copy = ids[0];
    EXPECT_EQ(AttachmentData(copy), data);

    // Written over in the middle through a stream opened for change.
    {
        auto m = OpenMessage(store.get(), copy);
        ComPtr<IAttach> att;
        ASSERT_EQ(m->OpenAttach(0, nullptr, MAPI_MODIFY, att.put()), S_OK);
        auto s = OpenStream(att.get(), PR_ATTACH_DATA_BIN, MAPI_MODIFY);
        ASSERT_TRUE(s);
        LARGE_INTEGER to{};
        to.QuadPart = 2 * 1024 * 1024;
        ASSERT_EQ(s->Seek(to, STREAM_SEEK_SET, nullptr), S_OK);
        ASSERT_EQ(s->Write("XYZ", 3, nullptr), S_OK);
        ASSERT_EQ(s->Commit(0), S_OK);
        // Changes after the commit are undone by Revert.
        ASSERT_EQ(s->Write("lost", 4, nullptr), S_OK);
        ASSERT_EQ(s->Revert(), S_OK);
        ASSERT_EQ(att->SaveChanges(0), S_OK);
        ASSERT_EQ(m->SaveChanges(0), S_OK);
    }
    std::string changed = data;
    changed.replace(2 * 1024 * 1024, 3, "XYZ");
    EXPECT_EQ(AttachmentData(copy), changed);
    EXPECT_EQ(Count("SELECT count(*) FROM blobs"), 1);

    SBinary copyBin{static_cast<ULONG>(copy.size()), reinterpret_cast<LPBYTE>(copy.data())};
    ENTRYLIST copyList{1, &copyBin};
    ASSERT_EQ(contacts->DeleteMessages(&copyList, 0, nullptr, 0), S_OK);
    EXPECT_EQ(Count("SELECT count(*) FROM blobs"), 0);
    EXPECT_EQ(Count("SELECT count(*) FROM chunks"), 0);
}

TEST_F(LargeValueTest, ValuesStoredWholeStillReadThroughStreams) {
    // Set in one piece, a value stays in its props row as before.
    const std::string data = RandomBytes(2 * 1024 * 1024 + 5, 3);
    ComPtr<IMessage> m;
    ASSERT_EQ(inbox->CreateMessage(nullptr, 0, m.put()), S_OK);
    ULONG num = 0;
    ComPtr<IAttach> att;
    ASSERT_EQ(m->CreateAttach(nullptr, 0, &num, att.put()), S_OK);
    ASSERT_EQ(Set(att.get(), BinaryProp(PR_ATTACH_DATA_BIN, data)), S_OK);
    ASSERT_EQ(att->SaveChanges(0), S_OK);
    ASSERT_EQ(m->SaveChanges(KEEP_OPEN_READWRITE), S_OK);
    EXPECT_EQ(Count("SELECT count(*) FROM blobs"), 0);
    EXPECT_EQ(Count("SELECT count(*) FROM props WHERE type = 258 AND length(val) > 2000000"), 1);
    EXPECT_EQ(AttachmentData(GetBinary(m.get(), PR_ENTRYID)), data);
}

}  // namespace
}  // namespace mapitest
