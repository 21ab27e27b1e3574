// CByteBuffer and its hexadecimal text form.
#include "server/mapi/byte_buffer.h"

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

// The value a character has in the lenient reader (modulo 256 arithmetic).
unsigned LenientDigit(unsigned char c) { return c <= 0x40 ? c - 48u : c - 55u; }

int StrictDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

}  // namespace

CByteBuffer::CByteBuffer(const void* bytes, size_t length) { Assign(bytes, length); }

CByteBuffer::CByteBuffer(const SBinary& bin) { Assign(bin.lpb, bin.cb); }

void CByteBuffer::Assign(const void* bytes, size_t length) {
    if (bytes == nullptr || length == 0) {
        bytes_.clear();
        return;
    }
    const auto* p = static_cast<const uint8_t*>(bytes);
    bytes_.assign(p, p + length);
}

LPENTRYID CByteBuffer::EntryId() const {
    if (bytes_.empty()) return nullptr;
    // MAPI passes entry identifiers as byte blocks typed ENTRYID; nothing reads
    // through the structure members.
    return reinterpret_cast<LPENTRYID>(const_cast<uint8_t*>(bytes_.data()));
}

SBinary CByteBuffer::AsBinary() const {
    SBinary bin{};
    bin.cb = static_cast<ULONG>(bytes_.size());
    bin.lpb = bytes_.empty() ? nullptr : const_cast<uint8_t*>(bytes_.data());
    return bin;
}

std::string CByteBuffer::ToText() const {
    std::string text;
    text.reserve(bytes_.size() * 2);
    for (uint8_t b : bytes_) {
        text.push_back(kHexDigits[b >> 4]);
        text.push_back(kHexDigits[b & 0x0F]);
    }
    return text;
}

void CByteBuffer::SetFromText(std::string_view text) {
    bytes_.clear();
    bytes_.reserve(text.size() / 2);
    for (size_t i = 0; i + 1 < text.size(); i += 2) {
        unsigned first = LenientDigit(static_cast<unsigned char>(text[i]));
        unsigned second = LenientDigit(static_cast<unsigned char>(text[i + 1]));
        bytes_.push_back(static_cast<uint8_t>((16u * first + second) & 0xFFu));
    }
}

CByteBuffer CByteBuffer::FromText(std::string_view text) {
    CByteBuffer buffer;
    buffer.SetFromText(text);
    return buffer;
}

std::optional<CByteBuffer> CByteBuffer::ParseHex(std::string_view text) {
    if (text.size() % 2 != 0) return std::nullopt;
    std::vector<uint8_t> bytes;
    bytes.reserve(text.size() / 2);
    for (size_t i = 0; i < text.size(); i += 2) {
        int high = StrictDigit(text[i]);
        int low = StrictDigit(text[i + 1]);
        if (high < 0 || low < 0) return std::nullopt;
        bytes.push_back(static_cast<uint8_t>(high * 16 + low));
    }
    return CByteBuffer(std::move(bytes));
}
