// The vCard entries of a stream (versions 2.1, 3.0 and 4.0), one at a time, with
// each property's value decoded to UTF-8 text or to bytes.
//
// Per property: vCard 2.1 bare parameters ("TEL;WORK;VOICE") become TYPE values,
// or ENCODING for QUOTED-PRINTABLE, BASE64, 8BIT and 7BIT; TYPE values are kept
// in lower case, split at commas; "pref" among them, or a PREF parameter, marks a
// preferred value. Quoted-printable values are decoded and base64 values
// (ENCODING=b or BASE64) become bytes; text in a CHARSET is converted to UTF-8;
// text without one that is not UTF-8 is read as Windows-1252 (as older address
// books write it). Text values stay escaped (text_codec.h splits and unescapes).
//
// Bad input: an entry with a property that cannot be read (no colon, unreadable
// base64, an unknown character set, text that does not fit its set, a line over
// the length limit), an entry cut off before END:VCARD, and text outside any
// entry are reported as errors with the entry's number and the line; the reader
// then goes on with the next BEGIN:VCARD. Nested entries (a 2.1 AGENT) are passed
// over. Memory is bounded by the largest entry, never by the file.
//
// One reader belongs to one thread.
#pragma once

#include <cstddef>
#include <istream>
#include <string>
#include <vector>

#include "common/vcard/content_line.h"

namespace vcard {

struct VCardProperty {
    std::string group;
    std::string name;                  // upper case
    std::vector<std::string> types;    // lower case
    int pref = 0;                      // 0: not preferred; 1 most preferred
    std::string valueType;             // VALUE parameter, lower case ("uri", "text")
    std::string mediaType;             // photo type: MEDIATYPE, or a 3.0 TYPE=JPEG
    bool binary = false;               // value holds decoded bytes
    std::string value;                 // UTF-8 text (escaped) or bytes
    std::vector<ContentParam> params;  // every parameter as read
    std::size_t line = 0;
};

struct VCardEntry {
    std::string version;                    // "2.1", "3.0", "4.0", or "" when none was given
    std::vector<VCardProperty> properties;  // without BEGIN, END and VERSION
    std::size_t index = 0;                  // 1-based number in the stream
    std::size_t firstLine = 0;
};

struct VCardError {
    std::size_t entry = 0;  // 1-based number of the entry, 0 for text outside any
    std::size_t line = 0;
    std::string message;
};

class VCardReader {
public:
    explicit VCardReader(std::istream& in) : lines_(in) {}
    enum class Result { kEntry, kError, kEnd };
    // The next entry, or the next error (the entry it names is then dropped whole).
    Result Next(VCardEntry& entry, VCardError& error);
    std::size_t linesRead() const { return lines_.linesRead(); }

private:
    ContentLineReader lines_;
    std::size_t entries_ = 0;
    bool outsideReported_ = false;
};

// Decodes one property line of an entry of the given version. False with a reason
// when the value cannot be read.
bool DecodeVCardProperty(const ContentLine& line, VCardProperty& out, std::string& error);

}  // namespace vcard
