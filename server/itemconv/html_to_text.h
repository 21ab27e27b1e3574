// HTML mail bodies rendered as plain text for devices.
//
// One pass over 8-bit text in the locale's character set (UTF-8 on every
// supported system). It knows a handful of constructs and drops every other tag:
//  - reading starts after the body tag ("<body" followed by a blank, "/" or ">",
//    any case, attributes allowed); without a body tag the whole text is read;
//  - runs of space, CR and LF fold into one space (TAB is copied as it stands);
//  - "<br>" in every form ("<br/>", "<br />", with attributes) and "</p>" give
//    CR LF; the contents of style and script elements and of comments are dropped;
//  - the entities amp, lt, gt, quot, apos give their characters, nbsp gives a space
//    that counts as white space; decimal and hexadecimal character references give
//    the character in UTF-8 (a reference to 0, to a surrogate or past U+10FFFF is
//    dropped); an unknown entity name stays as written;
//  - an "&" that does not begin an entity closed by ";" within
//    kMaxEntityLength characters stays as it is.
// Pure functions; safe to call from any number of threads at once.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Longest entity name (between "&" and ";") that is still taken as an entity.
inline constexpr std::size_t kMaxEntityLength = 32;

// Renders html as text. Never fails and never throws for any input (an
// allocation failure yields the empty text). The input may hold any bytes; a NUL
// ends it, as the stored body text ends there.
std::string HtmlToText(std::string_view html) noexcept;
// The same for a NUL-terminated text; a null pointer yields the empty text.
std::string HtmlToText(const char* html) noexcept;

// True when text, after leading white space and an optional DOCTYPE declaration,
// begins with an html start tag in any case ("<html>", "<HTML lang=de>"). This is
// the test that decides whether a body is rendered through HtmlToText.
bool LooksLikeHtml(std::string_view text) noexcept;
