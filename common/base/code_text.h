// Small constant tables that give codes (result codes, types, tags) a name or a
// message text, and their lookup.
#pragma once

#include <cstddef>

template <class Code>
struct CodeText {
    Code code;
    const char* text;
};

// The text of the first entry for code; null when the table has none.
template <class Code, std::size_t N>
constexpr const char* TextOfCode(const CodeText<Code> (&table)[N], Code code) {
    for (const CodeText<Code>& entry : table)
        if (entry.code == code) return entry.text;
    return nullptr;
}
