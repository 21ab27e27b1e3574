// A small JSON reader for the output of "skiff ... --json" and "corvel-store --json":
// objects keep their members in document order, numbers keep their text.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

struct JsonValue {
    enum class Type { kNull, kBool, kNumber, kString, kArray, kObject };
    Type type = Type::kNull;
    bool boolean = false;
    std::string text;              // a string's value, or a number as written
    std::vector<JsonValue> items;  // kArray
    std::vector<std::pair<std::string, JsonValue>> members;  // kObject, in order

    // The member of that name (the first when repeated), or null when absent or when
    // this is no object.
    const JsonValue* Find(const std::string& name) const;
    // The member's text (string or number), or "" when absent.
    std::string Text(const std::string& name) const;
    // The value as text: a string's or number's text, "true"/"false", "null", or
    // compact JSON for arrays and objects.
    std::string AsText() const;
};

// Parses one JSON document (surrounding white space allowed). nullopt, with error
// naming the offset, for anything else: trailing text, bad escapes, unclosed
// containers, nesting deeper than 64.
std::optional<JsonValue> ParseJson(const std::string& text, std::string* error = nullptr);

// The first line of output that parses as a JSON object or array, or nullopt. Log
// lines around it are passed over.
std::optional<JsonValue> FirstJsonLine(const std::string& output);
