// vCard entries from content lines.
#include "common/vcard/vcard_reader.h"

#include "common/vcard/text_codec.h"

namespace vcard {

namespace {

std::string Lower(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

bool IsEncodingName(std::string_view v) {
    return EqualsIgnoreCase(v, "QUOTED-PRINTABLE") || EqualsIgnoreCase(v, "BASE64") ||
           EqualsIgnoreCase(v, "8BIT") || EqualsIgnoreCase(v, "7BIT") || EqualsIgnoreCase(v, "B");
}

bool IsImageType(std::string_view v) {
    static const char* const kTypes[] = {"JPEG", "JPG", "PNG", "GIF", "BMP", "TIFF", "WEBP"};
    for (const char* t : kTypes)
        if (EqualsIgnoreCase(v, t)) return true;
    return false;
}

}  // namespace

bool DecodeVCardProperty(const ContentLine& line, VCardProperty& out, std::string& error) {
    out = VCardProperty();
    out.group = line.group;
    out.name = line.name;
    std::string encoding, charset;
    for (const ContentParam& p : line.params) {
        if (p.name.empty() || p.name == "TYPE") {
            for (const std::string& v : p.values) {
                if (p.name.empty() && IsEncodingName(v)) {
                    encoding = Upper(v);
                } else if (EqualsIgnoreCase(v, "pref")) {
                    out.pref = 1;
                } else if ((line.name == "PHOTO" || line.name == "LOGO") && IsImageType(v)) {
                    out.mediaType = "image/" + Lower(v == "JPG" ? "jpeg" : v);
                } else if (!v.empty()) {
                    out.types.push_back(Lower(v));
                }
            }
        } else if (p.name == "ENCODING" && !p.values.empty()) {
            encoding = Upper(p.values[0]);
        } else if (p.name == "CHARSET" && !p.values.empty()) {
            charset = p.values[0];
        } else if (p.name == "VALUE" && !p.values.empty()) {
            out.valueType = Lower(p.values[0]);
        } else if (p.name == "PREF" && !p.values.empty()) {
            int level = 0;
            for (char c : p.values[0])
                if (c >= '0' && c <= '9' && level < 1000) level = level * 10 + (c - '0');
            out.pref = level > 0 ? level : 1;
        } else if (p.name == "MEDIATYPE" && !p.values.empty()) {
            out.mediaType = Lower(p.values[0]);
        }
    }
    out.params = line.params;
    std::string bytes;
    if (encoding == "QUOTED-PRINTABLE") {
        bytes = DecodeQuotedPrintable(line.value);
    } else if (encoding == "B" || encoding == "BASE64") {
        std::optional<std::string> decoded = DecodeBase64(line.value);
        if (!decoded) {
            error = out.name + ": the base64 value cannot be read";
            return false;
        }
        out.binary = true;
        out.value = std::move(*decoded);
        return true;
    } else if (!encoding.empty() && encoding != "8BIT" && encoding != "7BIT") {
        error = out.name + ": unknown encoding " + encoding;
        return false;
    } else {
        bytes = line.value;
    }
    std::optional<std::string> text;
    if (!charset.empty()) {
        text = ToUtf8(bytes, charset);
        if (!text) {
            error = out.name + ": the value is not text in " + charset;
            return false;
        }
    } else {
        text = ToUtf8(bytes, "UTF-8");
        if (!text) text = ToUtf8(bytes, "WINDOWS-1252");
        if (!text) {
            error = out.name + ": the value is not text";
            return false;
        }
    }
    out.value = std::move(*text);
    return true;
}

VCardReader::Result VCardReader::Next(VCardEntry& entry, VCardError& error) {
    std::string text;
    std::size_t lineNo = 0;
    // Find BEGIN:VCARD.
    for (;;) {
        ContentLineReader::Result r = lines_.Next(text, lineNo);
        if (r == ContentLineReader::Result::kEnd) return Result::kEnd;
        ContentLine line;
        std::string why;
        if (r == ContentLineReader::Result::kLine && ParseContentLine(text, line, why) &&
            line.name == "BEGIN" && EqualsIgnoreCase(line.value, "VCARD"))
            break;
        // Text outside an entry: reported once per stretch.
        if (!outsideReported_) {
            outsideReported_ = true;
            error = VCardError{
                0, lineNo, entries_ == 0 ? "not a vCard: no BEGIN:VCARD" : "text outside an entry"};
            return Result::kError;
        }
    }
    outsideReported_ = false;
    entry = VCardEntry();
    entry.index = ++entries_;
    entry.firstLine = lineNo;
    std::string failure;
    std::size_t failureLine = 0;
    int nested = 0;
    for (;;) {
        ContentLineReader::Result r = lines_.Next(text, lineNo);
        if (r == ContentLineReader::Result::kEnd) {
            error = VCardError{entry.index, lines_.linesRead(),
                               "the entry ends before END:VCARD (line " +
                                   std::to_string(entry.firstLine) + " began it)"};
            return Result::kError;
        }
        if (r == ContentLineReader::Result::kTooLong) {
            if (failure.empty()) {
                failure = "a line is longer than " + std::to_string(kMaxLogicalLine) + " bytes";
                failureLine = lineNo;
            }
            continue;
        }
        ContentLine line;
        std::string why;
        if (!ParseContentLine(text, line, why)) {
            if (failure.empty()) {
                failure = why;
                failureLine = lineNo;
            }
            continue;
        }
        if (line.name == "BEGIN" && EqualsIgnoreCase(line.value, "VCARD")) {
            ++nested;
            continue;
        }
        if (line.name == "END" && EqualsIgnoreCase(line.value, "VCARD")) {
            if (nested > 0) {
                --nested;
                continue;
            }
            break;
        }
        if (nested > 0 || !failure.empty()) continue;
        if (line.name == "VERSION") {
            entry.version = line.value;
            continue;
        }
        VCardProperty prop;
        if (!DecodeVCardProperty(line, prop, why)) {
            failure = why;
            failureLine = lineNo;
            continue;
        }
        prop.line = lineNo;
        entry.properties.push_back(std::move(prop));
    }
    if (!failure.empty()) {
        error = VCardError{entry.index, failureLine, failure};
        return Result::kError;
    }
    return Result::kEntry;
}

}  // namespace vcard
