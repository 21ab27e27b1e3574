// CByteBuffer: an owned block of bytes with its length, used for entry identifiers
// and other binary values, and its text form.
//
// The text form is upper-case hexadecimal, two digits per byte ("00A1FF"): the form
// in which item and folder keys travel and name the sync-state files.
//
// Two readers turn text back into bytes:
// - SetFromText is the lenient reader keys have always been read with: it takes the
//   characters in pairs, a character c counts as c - 48 when c <= 0x40 and as
//   c - 55 otherwise, each byte is (16 * first + second) mod 256, and a last unpaired
//   character is ignored. Digits and upper-case A to F give the bytes they spell;
//   any other character gives some byte value without an error.
// - ParseHex is the strict reader for text from outside (keys sent by devices):
//   it accepts only an even number of 0-9, A-F, a-f and refuses anything else, so a
//   malformed key names no item instead of arbitrary bytes.
//
// One object belongs to one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/mapi/mapi_types.h"

class CByteBuffer {
public:
    CByteBuffer() = default;
    CByteBuffer(const void* bytes, size_t length);
    explicit CByteBuffer(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}
    // The bytes of a binary property value (cb bytes at lpb; lpb may be null when cb is 0).
    explicit CByteBuffer(const SBinary& bin);

    // Replaces the content with a copy of length bytes (null with length 0 empties it).
    void Assign(const void* bytes, size_t length);
    void Clear() { bytes_.clear(); }

    const uint8_t* Data() const { return bytes_.data(); }
    size_t Size() const { return bytes_.size(); }
    bool Empty() const { return bytes_.empty(); }
    const std::vector<uint8_t>& Bytes() const { return bytes_; }

    // The entry identifier view of the bytes, for OpenEntry and entry lists. The
    // pointer stays valid until the buffer changes. Null when the buffer is empty.
    LPENTRYID EntryId() const;
    ULONG EntryIdSize() const { return static_cast<ULONG>(bytes_.size()); }
    // An SBinary that points into this buffer (valid until the buffer changes).
    SBinary AsBinary() const;

    // Upper-case hexadecimal, two digits per byte; the empty text for no bytes.
    std::string ToText() const;
    // The lenient reader described above; replaces the content.
    void SetFromText(std::string_view text);
    static CByteBuffer FromText(std::string_view text);
    // The strict reader: the bytes, or nothing for text of odd length or with a
    // character other than a hexadecimal digit. The empty text gives no bytes.
    static std::optional<CByteBuffer> ParseHex(std::string_view text);

    bool operator==(const CByteBuffer& other) const = default;

private:
    std::vector<uint8_t> bytes_;
};
