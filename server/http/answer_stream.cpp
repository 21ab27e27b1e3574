// Answers written piece by piece.
#include "server/http/answer_stream.h"

#include "server/http/socket_util.h"

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
