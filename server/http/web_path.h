// Pure helpers that turn a request URL into a path below a web root safely.
//
// The URL is percent-decoded once, before it is mapped; separators are then
// normalised; any ".." or NUL refuses the request; and the file finally opened
// must resolve (symbolic links followed) to a place inside its root.
// Every function may be called from any thread.
#pragma once

#include <optional>
#include <string>
#include <string_view>

// Every "%" followed by two hexadecimal digits becomes the byte they denote; any
// other "%" is kept as it stands. Never reads past the end of text.
std::string PercentDecode(std::string_view text);

// Every run of "/" and "\" becomes one "/".
std::string CollapseSeparators(std::string_view text);

// The decoded, collapsed form of a request URL, or none when it must not be served:
// it holds ".." (before or after decoding) or a NUL byte.
std::optional<std::string> CleanRequestPath(std::string_view url);

// True when path, with symbolic links resolved, lies inside root (root itself
// included), also resolved. False when either does not exist.
bool ResolvesInside(const std::string& path, const std::string& root);

// Escapes &, <, > and " for HTML text and attribute values.
std::string HtmlEscape(std::string_view text);
