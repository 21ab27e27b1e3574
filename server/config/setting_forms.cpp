// How the single-valued keys of settings.inf read and write their values.
#include "server/config/setting_forms.h"

#include "common/base/text.h"
#include "server/config/log_text.h"

std::string TextSetting::Read(std::string_view, std::string_view text,
                              std::vector<std::string>&) const {
    return std::string(text);
}

std::string TextSetting::Write(const Value& value) const { return OneLineValue(value); }

bool SwitchSetting::Read(std::string_view, std::string_view text, std::vector<std::string>&) const {
    return LeadingInteger(text) != 0;
}

std::string SwitchSetting::Write(Value value) const { return value ? "1" : "0"; }

int NumberSetting::Read(std::string_view key, std::string_view text,
                        std::vector<std::string>& notes) const {
    int number = LeadingInteger(text);
    if (number >= lowest && number <= highest) return number;
    std::string note = "settings.inf: " + std::string(key) + " " + std::to_string(number);
    if (highest == INT_MAX) {
        note += " is below " + std::to_string(lowest);
    } else if (lowest == INT_MIN) {
        note += " is above " + std::to_string(highest);
    } else {
        note += " is outside " + std::to_string(lowest) + "-" + std::to_string(highest);
    }
    note += "; ";
    if (!what.empty()) note += std::string(what) + " ";
    notes.push_back(note + std::to_string(initial) + " is used");
    return initial;
}

std::string NumberSetting::Write(Value value) const { return std::to_string(value); }
