// DumpMessage: the readable form of a request or answer that forwarding writes to
// web.log. Pure; any thread.
//
//  - first line: for a request "<method> <url> <version>" (the version keeps the
//    carriage return of the request line; no line feed is added); for an answer its
//    status line up to the first CR or LF, followed by a line feed;
//  - each query parameter "par %-40s %-40s\n", each header field "%-40s %-40s\n";
//  - a non-empty body: when "Content-Type" begins with "text", the body and "\n";
//    otherwise a hex dump of min(body length, "Content-Length" when present) bytes,
//    15 per line as "%-8d %-40s %s\n" (offset, "%02x " per byte, the bytes with "."
//    for any byte below 32 or above 127); a last partial line is "%-40s %s\n"
//    without the offset. For "application/vnd.ms-sync.wbxml" the WBXML dump of the
//    body follows.
#pragma once

#include <string>
#include <string_view>

#include "common/http/html_command.h"

// message is the parsed form of raw (raw is needed for an answer's status line).
std::string DumpMessage(const CHTMLCommand& message, std::string_view raw, bool isRequest);

// The hex dump part alone.
std::string HexDump(std::string_view bytes);
