// Small constant tables that give codes (result codes, types, tags) a name or a
// message text, and their lookup.
#pragma once

#include <cstddef>

template <class Code>
struct CodeTextEntry {
    Code code;
    const char* text;
};

// The text of the first entry for code; null when the table has none.
template <class Code, std::size_t N>
constexpr const char* TextOfCode(const CodeTextEntry<Code> (&table)[N], Code code) {
    for (const CodeTextEntry<Code>& entry : table)
        if (entry.code == code) return entry.text;
    return nullptr;
}
