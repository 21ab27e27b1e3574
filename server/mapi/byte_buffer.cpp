// CByteBuffer and its hexadecimal text form.
#include "server/mapi/byte_buffer.h"

#include "common/base/text.h"

namespace {

// The value a character has in the lenient reader (modulo 256 arithmetic).
unsigned LenientDigit(unsigned char c) { return c <= 0x40 ? c - 48u : c - 55u; }

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
    return HexEncode(std::string_view(reinterpret_cast<const char*>(bytes_.data()), bytes_.size()));
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
    std::optional<std::string> bytes = HexDecode(text);
    if (!bytes) return std::nullopt;
    return CByteBuffer(bytes->data(), bytes->size());
}
