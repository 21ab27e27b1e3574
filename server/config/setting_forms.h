// The forms a single-valued key of settings.inf takes: how its text is read, how its
// value is written, and its value in a fresh installation. The keys themselves and
// the form of each are listed once, in settings_keys.h.
//
//   TextSetting    the rest of the line as it stands; written through OneLineValue,
//                  so a value can never add a line.
//   SwitchSetting  on when the leading number is not 0; written as 0 or 1.
//   NumberSetting  the leading decimal number (LeadingInteger: none gives 0); a number
//                  outside lowest-highest reads as the default, and a note for the
//                  operator says so. Written in decimal.
//
// Pure values; any thread.
#pragma once

#include <climits>
#include <string>
#include <string_view>
#include <vector>

struct TextSetting {
    using Value = std::string;
    std::string_view initial = "";
    Value Initial() const { return Value(initial); }
    Value Read(std::string_view key, std::string_view text, std::vector<std::string>& notes) const;
    std::string Write(const Value& value) const;
};

struct SwitchSetting {
    using Value = bool;
    bool initial = false;
    Value Initial() const { return initial; }
    Value Read(std::string_view key, std::string_view text, std::vector<std::string>& notes) const;
    std::string Write(Value value) const;
};

struct NumberSetting {
    using Value = int;
    int initial = 0;
    int lowest = INT_MIN;
    int highest = INT_MAX;
    // Put before the default in the note ("port 80 is used"); may be empty.
    std::string_view what = "";
    Value Initial() const { return initial; }
    Value Read(std::string_view key, std::string_view text, std::vector<std::string>& notes) const;
    std::string Write(Value value) const;
};

// The type a key of the given form holds in memory.
template <typename Form>
using SettingValue = typename Form::Value;
