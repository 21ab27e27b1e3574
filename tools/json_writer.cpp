// JSON text for the tool's output.
#include "tools/json_writer.h"

#include <cmath>
#include <cstdio>

#include "common/base/escape.h"
#include "platform/mapi/prop_value.h"

void JsonWriter::Separate() {
    if (afterKey_) {
        afterKey_ = false;
        return;
    }
    if (!first_.empty()) {
        if (!first_.back()) out_ += ",";
        first_.back() = false;
    }
}

JsonWriter& JsonWriter::Open(char bracket) {
    Separate();
    out_ += bracket;
    first_.push_back(true);
    return *this;
}
JsonWriter& JsonWriter::Close(char bracket) {
    out_ += bracket;
    first_.pop_back();
    return *this;
}
JsonWriter& JsonWriter::BeginObject() { return Open('{'); }
JsonWriter& JsonWriter::EndObject() { return Close('}'); }
JsonWriter& JsonWriter::BeginArray() { return Open('['); }
JsonWriter& JsonWriter::EndArray() { return Close(']'); }
JsonWriter& JsonWriter::Key(const std::string& name) {
    Separate();
    out_ += Quote(name) + ":";
    afterKey_ = true;
    return *this;
}
JsonWriter& JsonWriter::String(const std::string& text) {
    Separate();
    out_ += Quote(text);
    return *this;
}
JsonWriter& JsonWriter::Number(std::int64_t value) {
    Separate();
    out_ += std::to_string(value);
    return *this;
}
JsonWriter& JsonWriter::Double(double value) {
    Separate();
    if (!std::isfinite(value)) {
        out_ += "null";
        return *this;
    }
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.17g", value);
    out_ += buf;
    return *this;
}
JsonWriter& JsonWriter::Bool(bool value) {
    Separate();
    out_ += value ? "true" : "false";
    return *this;
}
JsonWriter& JsonWriter::Null() {
    Separate();
    out_ += "null";
    return *this;
}

std::string JsonWriter::Quote(const std::string& text) {
    // A round trip through UTF-16 replaces invalid bytes, so the output stays UTF-8.
    return JsonQuote(mapistore::Utf16ToUtf8(mapistore::Utf8ToUtf16(text)));
}
