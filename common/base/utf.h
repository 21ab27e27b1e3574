// UTF-8 and UTF-16: encoding one character, checking and decoding sequences, and
// converting whole texts. Pure functions, any thread.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

inline constexpr char32_t kReplacementCharacter = 0xFFFD;

// Appends the UTF-8 form of a character (the caller passes no surrogate and
// nothing above U+10FFFF).
void AppendUtf8(std::string& out, char32_t codePoint);
// Appends one UTF-16 unit, or a surrogate pair above U+FFFF.
void AppendUtf16(std::u16string& out, char32_t codePoint);

// Length of the well-formed UTF-8 sequence at text[i] (no overlong forms, no
// surrogates, nothing above U+10FFFF), or 0 when it is not one.
std::size_t Utf8SequenceLength(std::string_view text, std::size_t i);
// The character of the well-formed sequence of that length at text[i].
char32_t DecodeUtf8Sequence(std::string_view text, std::size_t i, std::size_t length);
// True when all of text is well-formed UTF-8.
bool IsValidUtf8(std::string_view text);
// Where text may be cut to keep at most maxBytes without leaving part of a
// character: text.size() when it fits, otherwise maxBytes moved back to the start of
// the character it falls in (UTF-8 continuation bytes are never kept alone).
std::size_t Utf8CutLength(std::string_view text, std::size_t maxBytes);

// UTF-16 to UTF-8; an unpaired surrogate becomes U+FFFD.
std::string Utf16ToUtf8(std::u16string_view text);
// UTF-8 to UTF-16; each byte that starts no well-formed sequence becomes U+FFFD.
std::u16string Utf8ToUtf16(std::string_view text);
// Units before the terminating zero; 0 for a null pointer.
std::size_t Utf16Length(const char16_t* text);
