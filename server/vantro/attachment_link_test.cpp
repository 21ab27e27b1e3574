// Attachment links, and sending a prepared attachment: the streamed answer is byte
// for byte the answer a whole-body CHTMLAnswer gives, pieces are bounded, and a peer
// that goes away or a stream that fails ends the answer with the stream released.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/mapi/com_base.h"
#include "server/vantro/attachment_request.h"

namespace {

std::string Parsed(const std::string& url) {
    CAttachmentLink link;
    if (!ParseAttachmentLink(url, link)) return "<none>";
    return link.folder + "|" + link.entryId + "|" + link.attachmentName;
}

TEST(AttachmentLink, ComponentsAndDecoding) {
    EXPECT_EQ(Parsed("/OutlookAttachments/Inbox/00AB12.EML/a%20b.txt?device=PPC1&username=alice"),
              "Inbox|00AB12|a b.txt");
    EXPECT_EQ(Parsed("/OutlookAttachments/Inbox/00AB.x.EML/%41%zz%4"), "Inbox|00AB|A%zz%4");
    EXPECT_EQ(Parsed("/OutlookAttachments/Inbox/00AB.EML"), "<none>");
    EXPECT_EQ(Parsed("/OutlookAttachments/Inbox/00AB.EML/"), "<none>");
    EXPECT_EQ(Parsed("/OutlookAttachments//00AB.EML/a"), "<none>");
    EXPECT_EQ(Parsed("/OutlookAttachments"), "<none>");
}

// A read-only stream over bytes that counts its reads and can fail after some.
class FakeStream : public mapistore::RefCounted<IStream> {
public:
    FakeStream(std::string bytes, bool* released) : bytes_(std::move(bytes)), released_(released) {}
    ~FakeStream() override { *released_ = true; }
    HRESULT QueryInterface(REFIID iid, LPVOID* out) override {
        if (out == nullptr) return E_INVALIDARG;
        if (iid != IID_IStream && iid != IID_IUnknown) return MAPI_E_INTERFACE_NOT_SUPPORTED;
        AddRef();
        *out = static_cast<IStream*>(this);
        return S_OK;
    }
    HRESULT Read(void* pv, ULONG cb, ULONG* read) override {
        ++reads;
        largestRead = std::max<size_t>(largestRead, cb);
        if (failAfterReads >= 0 && reads > failAfterReads) return E_FAIL;
        size_t n = std::min<size_t>(cb, bytes_.size() - position_);
        std::memcpy(pv, bytes_.data() + position_, n);
        position_ += n;
        *read = static_cast<ULONG>(n);
        return S_OK;
    }
    HRESULT Write(const void*, ULONG, ULONG*) override { return STG_E_ACCESSDENIED; }
    HRESULT Seek(LARGE_INTEGER, DWORD, ULARGE_INTEGER*) override { return MAPI_E_NO_SUPPORT; }
    HRESULT SetSize(ULARGE_INTEGER) override { return MAPI_E_NO_SUPPORT; }
    HRESULT Commit(DWORD) override { return MAPI_E_NO_SUPPORT; }
    HRESULT Revert() override { return MAPI_E_NO_SUPPORT; }
    HRESULT Stat(STATSTG*, DWORD) override { return MAPI_E_NO_SUPPORT; }

    int reads = 0;
    int failAfterReads = -1;
    size_t largestRead = 0;

private:
    std::string bytes_;
    size_t position_ = 0;
    bool* released_;
};

// Accepts up to limit bytes, then reports the peer gone.
class ClosingPeer : public IAnswerStream {
public:
    explicit ClosingPeer(size_t limit) : limit_(limit) {}
    bool Write(std::string_view bytes) override {
        ++writes;
        if (gone_ || text.size() + bytes.size() > limit_) {
            gone_ = true;
            return false;
        }
        text.append(bytes);
        return true;
    }
    uint64_t Written() const override { return text.size(); }
    std::string text;
    int writes = 0;

private:
    size_t limit_;
    bool gone_ = false;
};

std::string Pattern(size_t size) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
    return bytes;
}

const std::time_t kDate = 1797408000;  // 16 Dec 2026 08:00:00 UTC

CAttachmentDownload Download(FakeStream* stream, uint64_t size) {
    CAttachmentDownload download;
    download.knownMessage = true;
    download.data = CMapiRef<IStream>::Adopt(stream);
    download.size = size;
    download.date = kDate;
    return download;
}

// The answer the same bytes give when built whole.
std::string WholeAnswer(const std::string& bytes) {
    CHTMLAnswer answer(kDate);
    answer.SetContentType("application/binary");
    answer.Body().AppendBytes(bytes.size(), bytes.data());
    CDataString out;
    answer.Serialize(out);
    return out.ToString();
}

TEST(AttachmentStream, StreamedAnswerEqualsTheWholeAnswerForEveryPieceBoundary) {
    for (size_t size : {size_t(0), size_t(1), size_t(63), size_t(64), size_t(65), size_t(1000)}) {
        std::string bytes = Pattern(size);
        bool released = false;
        {
            auto* stream = new FakeStream(bytes, &released);
            CAttachmentDownload download = Download(stream, size);
            CStringAnswerStream out;
            EXPECT_TRUE(SendAttachmentDownload(download, out, 64)) << size;
            EXPECT_EQ(out.Text(), WholeAnswer(bytes)) << size;
            EXPECT_LE(stream->largestRead, 64u);
            EXPECT_EQ(stream->reads, static_cast<int>((size + 63) / 64)) << size;
        }
        EXPECT_TRUE(released) << size;
    }
    // The header as text, once, so a change of the fixed fields shows here.
    bool released = false;
    CAttachmentDownload download = Download(new FakeStream("abc", &released), 3);
    CStringAnswerStream out;
    SendAttachmentDownload(download, out);
    EXPECT_EQ(out.Text(),
              "HTTP/1.1 200 OK\r\nContent-Length: 3\r\nContent-Type: application/binary\r\n"
              "Date: Wed 16 Dec 2026 08:00:00 GMT\r\nPragma: no-cache\r\n"
              "Server: Microsoft-IIS/6.0\r\nX-Powered-By: Native Machine Code\r\n\r\nabc");
}

TEST(AttachmentStream, PeerGoneMidAnswerStopsReadingAndReleasesTheStream) {
    std::string bytes = Pattern(10 * 64);
    bool released = false;
    std::string header = WholeAnswer(bytes).substr(0, WholeAnswer(bytes).size() - bytes.size());
    {
        auto* stream = new FakeStream(bytes, &released);
        CAttachmentDownload download = Download(stream, bytes.size());
        ClosingPeer peer(header.size() + 3 * 64 + 10);
        EXPECT_FALSE(SendAttachmentDownload(download, peer, 64));
        EXPECT_EQ(peer.text, header + bytes.substr(0, 3 * 64));
        EXPECT_EQ(stream->reads, 4);  // the fourth piece found the peer gone
        EXPECT_EQ(peer.writes, 5);
    }
    EXPECT_TRUE(released);
}

TEST(AttachmentStream, StreamThatFailsOrEndsEarlyGivesAShortAnswer) {
    std::string bytes = Pattern(200);
    std::string header = WholeAnswer(bytes).substr(0, WholeAnswer(bytes).size() - bytes.size());
    bool released = false;
    auto* failing = new FakeStream(bytes, &released);
    failing->failAfterReads = 2;
    CAttachmentDownload download = Download(failing, bytes.size());
    CStringAnswerStream out;
    EXPECT_FALSE(SendAttachmentDownload(download, out, 64));
    EXPECT_EQ(out.Text(), header + bytes.substr(0, 128));

    // A stream shorter than its announced size.
    bool released2 = false;
    CAttachmentDownload shorter = Download(new FakeStream(bytes.substr(0, 100), &released2), 200);
    CStringAnswerStream out2;
    EXPECT_FALSE(SendAttachmentDownload(shorter, out2, 64));
    EXPECT_EQ(out2.Text(), header + bytes.substr(0, 100));
}

TEST(AttachmentStream, RefusalAndNothingFound) {
    CAttachmentDownload refused;
    refused.refusal = "HTTP/1.0 401 Authorization Required\n";
    CStringAnswerStream out;
    EXPECT_TRUE(SendAttachmentDownload(refused, out));
    EXPECT_EQ(out.Text(), "HTTP/1.0 401 Authorization Required\n");

    CAttachmentDownload none;
    none.knownMessage = true;
    CStringAnswerStream empty;
    EXPECT_TRUE(SendAttachmentDownload(none, empty));
    EXPECT_EQ(empty.Text(), "");
}

}  // namespace
