// Test helper: everything an entry reader of these formats finds in a text, in the
// order of the text (read_each.h).
#pragma once

#include <sstream>
#include <string>
#include <vector>

#include "common/vcard/read_each.h"

namespace vcard {

template <typename Entry, typename Error>
struct ReadResult {
    std::vector<Entry> entries;
    std::vector<Error> errors;
};

template <typename Reader, typename Entry, typename Error>
ReadResult<Entry, Error> ReadText(const std::string& text) {
    std::istringstream in(text);
    Reader reader(in);
    ReadResult<Entry, Error> result;
    ReadEach<Entry, Error>(
        reader, [&](const Entry& e) { result.entries.push_back(e); },
        [&](const Error& e) { result.errors.push_back(e); });
    return result;
}

}  // namespace vcard
