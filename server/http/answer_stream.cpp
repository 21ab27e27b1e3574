// Answers written piece by piece.
#include "server/http/answer_stream.h"

#include <sys/sendfile.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "common/tls/sigpipe_hold.h"
#include "server/http/socket_util.h"

namespace {

constexpr size_t kFileReadPiece = 64 * 1024;
// One sendfile call moves at most this much, so a send timeout is noticed in time.
constexpr uint64_t kSendFilePiece = 4 * 1024 * 1024;

}  // namespace

bool IAnswerStream::WriteFile(int fd, uint64_t offset, uint64_t count) {
    std::vector<char> piece(static_cast<size_t>(std::min<uint64_t>(count, kFileReadPiece)));
    while (count > 0) {
        const size_t want = static_cast<size_t>(std::min<uint64_t>(count, piece.size()));
        ssize_t n = pread(fd, piece.data(), want, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) return true;  // the file ended early
        if (!Write(std::string_view(piece.data(), static_cast<size_t>(n)))) return false;
        offset += static_cast<uint64_t>(n);
        count -= static_cast<uint64_t>(n);
    }
    return true;
}

bool CSocketAnswerStream::WriteFile(int fd, uint64_t offset, uint64_t count) {
    if (failed_) return false;
    CSigpipeHold held;  // sendfile has no MSG_NOSIGNAL
    auto at = static_cast<off_t>(offset);
    while (count > 0) {
        ssize_t n =
            sendfile(socket_, fd, &at, static_cast<size_t>(std::min(count, kSendFilePiece)));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EINVAL || errno == ENOSYS) && at == static_cast<off_t>(offset)) {
            // A file the kernel cannot send from: read it instead.
            return IAnswerStream::WriteFile(fd, offset, count);
        }
        if (n < 0) {
            failed_ = true;
            return false;
        }
        if (n == 0) return true;  // the file ended early
        written_ += static_cast<uint64_t>(n);
        count -= static_cast<uint64_t>(n);
    }
    return true;
}

bool CSocketAnswerStream::Write(std::string_view bytes) {
    if (failed_) return false;
    if (!SendAll(socket_, bytes)) {
        failed_ = true;
        return false;
    }
    written_ += bytes.size();
    return true;
}

std::string StreamedAnswerHeader(const CHTMLAnswer& answer, uint64_t bodyLength) {
    // Serialise a copy without body and put the real length into its second line;
    // every other byte of the header stays the one Serialize writes.
    CDataString serialized;
    CHTMLAnswer copy = answer;
    copy.Body().Reset();
    copy.Serialize(serialized);
    std::string header = serialized.ToString();
    const std::string lengthLine = "Content-Length: 0\r\n";
    size_t at = header.find("\r\n") + 2;
    if (header.compare(at, lengthLine.size(), lengthLine) == 0) {
        header.replace(at, lengthLine.size(),
                       "Content-Length: " + std::to_string(bodyLength) + "\r\n");
    }
    return header;
}
