// A small JSON writer for the tool's --json output: values are appended in order;
// strings are escaped, and bytes that are not UTF-8 become U+FFFD.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class JsonWriter {
public:
    JsonWriter& BeginObject();
    JsonWriter& EndObject();
    JsonWriter& BeginArray();
    JsonWriter& EndArray();
    // A member name inside an object; the next value belongs to it.
    JsonWriter& Key(const std::string& name);
    JsonWriter& String(const std::string& text);
    JsonWriter& Number(std::int64_t value);
    JsonWriter& Double(double value);
    JsonWriter& Bool(bool value);
    JsonWriter& Null();
    const std::string& text() const { return out_; }

    static std::string Quote(const std::string& text);

private:
    void Separate();
    // An object or array begins (its first member follows) or ends with bracket.
    JsonWriter& Open(char bracket);
    JsonWriter& Close(char bracket);
    std::string out_;
    std::vector<bool> first_;  // per open container: no member written yet
    bool afterKey_ = false;
};
