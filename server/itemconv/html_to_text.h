// HTML mail bodies rendered as plain text for devices.
//
// One pass over 8-bit text. The text keeps its own encoding: a body that is valid
// UTF-8 is read and written as UTF-8; any other body is 8-bit Windows-1252 text
// and stays so (HtmlBodyToUtf8 converts the rendered text once, as a whole).
//  - reading starts after the body tag ("<body" followed by a blank, "/" or ">",
//    any case, attributes allowed); without a body tag the whole text is read;
//  - runs of space, CR and LF fold into one space; white space at the start of a
//    line, and one blank before a line end, are dropped; TAB is copied as it stands;
//  - lines end with CR LF: "<br>" in every form ("<br/>", "<br />", attributes)
//    always ends one; the block elements p, div, li, tr, h1-h6, blockquote, pre,
//    ul, ol, dl, dt, dd, table, hr, center, address and the HTML 5 sections end the
//    line before and after them when it holds text;
//  - a list item starts with "- " (two more blanks of indent per nested list);
//    the cells of a table row (td, th) are separated by one TAB; every line inside
//    a blockquote starts with "> " per level of quoting ("> > " inside two);
//    inside pre, blanks and TABs stay and each LF ends a line;
//  - the contents of style, script and title elements and of comments are dropped;
//    every other tag produces nothing;
//  - character references: the HTML 4 named entities (html_entities.h), decimal
//    and hexadecimal numbers; numbers 128-159 are the Windows-1252 characters of
//    those bytes (&#150; is "–"), the five the page leaves unassigned are dropped,
//    as are 0, surrogates, other control characters and numbers past U+10FFFF;
//    nbsp gives a space that counts as white space; in 8-bit text a character the
//    page lacks becomes "?"; an unknown name stays as written;
//  - an "&" that does not begin a reference closed by ";" within kMaxEntityLength
//    characters stays as it is.
// Pure functions; safe to call from any number of threads at once.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Longest entity name (between "&" and ";") that is still taken as an entity.
inline constexpr std::size_t kMaxEntityLength = 32;

enum class TextEncoding {
    kUtf8,
    kWindows1252,  // 8-bit
};

// The encoding of a stored 8-bit text: UTF-8 when it is valid UTF-8 (plain ASCII
// included), otherwise Windows-1252.
TextEncoding TextEncodingOf(std::string_view text) noexcept;

// Renders html as text in the given encoding. Never fails and never throws for any
// input (an allocation failure yields the empty text). The input may hold any
// bytes; a NUL ends it, as the stored body text ends there.
std::string HtmlToText(std::string_view html, TextEncoding encoding) noexcept;
// The same in the text's own encoding (TextEncodingOf).
std::string HtmlToText(std::string_view html) noexcept;
// The same for a NUL-terminated text; a null pointer yields the empty text.
std::string HtmlToText(const char* html) noexcept;

// A stored body rendered as text and converted to UTF-8 for the wire: the body is
// rendered in its own encoding and an 8-bit result converted once, as a whole (on
// a system whose character set is not UTF-8 the body is converted from it first).
std::string HtmlBodyToUtf8(std::string_view html) noexcept;

// True when text, after leading white space and an optional DOCTYPE declaration,
// begins with an html start tag in any case ("<html>", "<HTML lang=de>"). Such a
// body is rendered through HtmlToText whatever its content type.
bool LooksLikeHtml(std::string_view text) noexcept;

// True when a message's header block (its transport headers) has a Content-Type
// field whose media type is text/html (any case, parameters and folded lines
// allowed). A body fragment without an html tag is rendered when this is true.
bool HeadersSayHtml(std::string_view headers) noexcept;
