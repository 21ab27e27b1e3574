// Pure helpers that turn a request URL into a path below a web root safely.
//
// The URL is percent-decoded once, before it is mapped to a virtual directory, and
// normalised then ("\" taken as "/", runs of "/" collapsed, "." segments removed),
// so every spelling of one path meets the same directory and the same Basic check;
// any ".." or NUL refuses the request; and the file finally opened must resolve
// (symbolic links followed) to a place inside its root.
// Every function may be called from any thread.
#pragma once

#include <optional>
#include <string>
#include <string_view>

// Every run of "/" and "\" becomes one "/".
std::string CollapseSeparators(std::string_view text);

// The normal form of a decoded path: every "\" becomes "/", runs of "/" become one,
// and every "." segment is removed ("/./a/." -> "/a/", "./a" -> "a"). A path that
// began with a separator keeps one in front; one that ended with a separator or a
// "." segment keeps a "/" at its end. ".." segments are left as they are (callers
// refuse them). Pure, any bytes.
std::string NormalizePath(std::string_view path);

// The decoded, normalised form of a request URL (decoded exactly once), or none
// when it must not be served: it holds ".." (before or after decoding) or a NUL
// byte. "/%2e/docs/x", "/./docs/x", "/.//docs\\x" all come to "/docs/x".
std::optional<std::string> CleanRequestPath(std::string_view url);

// True when url (a path, no query) is already in the form CleanRequestPath gives
// apart from its percent-encoding: decoding it changes no segment, adds no
// separator or dot segment, and nothing needs collapsing. Links the server builds
// itself (attachment URLs) are in this form; anything else gets no answer there.
bool IsNormalRequestPath(std::string_view url);

// True when path, with symbolic links resolved, lies inside root (root itself
// included), also resolved. False when either does not exist.
bool ResolvesInside(const std::string& path, const std::string& root);

// Escapes &, <, > and " for HTML text and attribute values.
std::string HtmlEscape(std::string_view text);
