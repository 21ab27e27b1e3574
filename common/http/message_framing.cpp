// Message completeness: the whole-buffer test and its incremental form.
#include "common/http/message_framing.h"

#include <strings.h>

#include <cstring>
#include <limits>
#include <string_view>

#include "common/base/text.h"

namespace {

constexpr std::string_view kCrLfCrLf = "\r\n\r\n";
constexpr std::string_view kLfCrLfCr = "\n\r\n\r";
constexpr std::string_view kLfLf = "\n\n";
constexpr std::string_view kLengthName = "Content-Length:";
constexpr std::string_view kChunkedText = "Transfer-Encoding: chunked";

std::optional<size_t> Find(const char* data, size_t from, size_t to, std::string_view what) {
    if (to < from || to - from < what.size()) return std::nullopt;
    const void* hit = memmem(data + from, to - from, what.data(), what.size());
    if (hit == nullptr) return std::nullopt;
    return static_cast<size_t>(static_cast<const char*>(hit) - data);
}

enum class ChunkWalk { kComplete, kIncomplete };

// Walks the chunks from pos. On kIncomplete, pos is left at the start of the
// chunk that could not be walked over, so a later call with more bytes resumes
// there and reaches the same answer a walk from the body start would.
ChunkWalk WalkChunks(const char* data, size_t count, size_t& pos) {
    for (;;) {
        size_t p = pos;
        if (p < count && data[p] == '\r') ++p;
        if (p < count && data[p] == '\n') ++p;
        uint64_t size = 0;
        size_t digits = 0;
        while (p < count && HexDigitValue(data[p]) >= 0) {
            if (size > (std::numeric_limits<uint64_t>::max() >> 4)) return ChunkWalk::kIncomplete;
            size = (size << 4) | static_cast<uint64_t>(HexDigitValue(data[p]));
            ++p;
            ++digits;
        }
        if (digits == 0) return ChunkWalk::kIncomplete;
        if (p < count && data[p] == '\r') ++p;
        if (p < count && data[p] == '\n') ++p;
        if (size == 0) return ChunkWalk::kComplete;
        if (size > count - p) return ChunkWalk::kIncomplete;
        pos = p + static_cast<size_t>(size);
    }
}

}  // namespace

bool IsMessageComplete(const char* data, size_t count) {
    CMessageFraming framing;
    return framing.Update(data, count);
}

void CMessageFraming::FindHeaderEnd(const char* data, size_t count) {
    // Each pattern is searched in the new bytes plus the few before them that a
    // match could start in; a pattern already found keeps its first position.
    size_t from = scanned_ >= 3 ? scanned_ - 3 : 0;
    if (!crlfcrlf_) crlfcrlf_ = Find(data, from, count, kCrLfCrLf);
    if (!lfcrlfcr_) lfcrlfcr_ = Find(data, from, count, kLfCrLfCr);
    if (!lflf_) lflf_ = Find(data, from, count, kLfLf);
    scanned_ = count;

    size_t bodyStart = 0;
    if (crlfcrlf_) {
        bodyStart = *crlfcrlf_ + 4;
    } else if (lfcrlfcr_) {
        bodyStart = *lfcrlfcr_ + 4;
    } else if (lflf_) {
        bodyStart = *lflf_ + 2;
    }
    if (bodyStart == bodyStart_) return;
    // A new (or first) header end: read the framing from the header block.
    bodyStart_ = bodyStart;
    length_ = 0;
    if (auto at = Find(data, 0, bodyStart_, kLengthName)) {
        size_t p = *at + kLengthName.size();
        while (p < count && (data[p] == ' ' || data[p] == '\t')) ++p;
        kind_ = Kind::kLength;
        while (p < count && data[p] >= '0' && data[p] <= '9') {
            uint64_t digit = static_cast<uint64_t>(data[p] - '0');
            if (length_ > (std::numeric_limits<uint64_t>::max() - digit) / 10) {
                kind_ = Kind::kBadLength;
                break;
            }
            length_ = length_ * 10 + digit;
            ++p;
        }
    } else if (Find(data, 0, bodyStart_, kChunkedText)) {
        kind_ = Kind::kChunked;
        chunkPos_ = bodyStart_;
    } else if (count >= 3 && strncasecmp(data, "GET", 3) == 0) {
        kind_ = Kind::kGet;
    } else {
        kind_ = Kind::kNever;
    }
}

bool CMessageFraming::CheckBody(const char* data, size_t count) {
    switch (kind_) {
        case Kind::kLength:
            return count - bodyStart_ >= length_;
        case Kind::kChunked:
            return WalkChunks(data, count, chunkPos_) == ChunkWalk::kComplete;
        case Kind::kGet:
            return true;
        case Kind::kNone:
        case Kind::kBadLength:
        case Kind::kNever:
            return false;
    }
    return false;
}

bool CMessageFraming::Update(const char* data, size_t count) {
    if (count < scanned_) {
        *this = CMessageFraming();  // not the same growing buffer: start over
    }
    FindHeaderEnd(data, count);
    if (bodyStart_ == 0) return false;
    return CheckBody(data, count);
}

std::optional<uint64_t> CMessageFraming::DeclaredLength() const {
    if (kind_ == Kind::kLength) return length_;
    return std::nullopt;
}
