// `corvel dump FILE|-`: the readable form of a captured Vantro request or answer.
#pragma once

#include <cstddef>
#include <iosfwd>
#include <string>

// Largest document the command reads (the size of the largest request the
// server accepts).
constexpr size_t kMaxDumpBytes = 64u * 1024 * 1024;

// Reads the WBXML document in the file pathOrDash ("-" reads standard input) and
// writes CWBXML::DumpDocument of it to out. Returns 0 on success. A missing,
// unreadable or oversized file writes one line to err naming the file and the
// reason, and returns 1; an empty path is a usage error (2). Malformed documents
// are dumped as far as they go, like in the server's log.
int RunDumpCommand(const std::string& pathOrDash, std::ostream& out, std::ostream& err);
// The same with "-" reading from in instead of standard input.
int RunDumpCommand(const std::string& pathOrDash, std::ostream& out, std::ostream& err,
                   std::istream& in);
