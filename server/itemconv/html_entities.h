// The named character references of HTML 4 (the 252 of its Latin-1, symbol and
// special sets) and apos. Pure functions over a constant table; any thread.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

// The character a reference name (without "&" and ";") stands for. Names are
// matched as written ("Eacute" and "eacute" differ); a name in another case is
// taken when it matches exactly one name of the table ignoring case ("AMP", "Gt").
std::optional<char32_t> HtmlEntityCodePoint(std::string_view name);

// Number of names in the table.
std::size_t HtmlEntityCount();
