// Fixed answers of the web server: the 401 answer of a protected virtual directory
// and the directory page. Pure functions; any thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The whole 401 answer, every line ended by a bare line feed:
//   HTTP/1.0 401 Authorization Required / Server: HTTPd/1.0 /
//   Date: Sat, 27 Nov 2004 10:18:15 GMT / WWW-Authenticate: Basic realm="<realm>" /
//   Content-Type: text/html / Content-Length: <page bytes> / (blank) / the page.
// CR, LF and double quotes of the realm are dropped so it stays one quoted value.
std::string UnauthorizedAnswer(std::string_view realm);
// The HTML page of the 401 answer.
std::string UnauthorizedPage();

// The realm of the 401 answer to an attachment download.
inline constexpr const char* kAttachmentRealm = "Corvel";

// The answer to a refused Vantro log-on: "HTTP/1.1 403 Forbidden", the protocol's
// content type and header lines, and the answer document without elements (its
// four header bytes).
std::string RefusedLogonAnswer();

struct CDirectoryEntry {
    std::string name;
    bool isDirectory = false;
    uint64_t size = 0;
};

// The entries of folder in the order the file system returns them, "." and ".."
// included; empty when it cannot be read.
std::vector<CDirectoryEntry> ListDirectory(const std::string& folder);

// The body of the directory page: the fixed head with title (the folder's path on
// disk), then one table row per entry: a link to linkBase + "/" + name (runs of "/"
// and "\" in it made one "/"), in brackets for a directory, and the low 32 bits of
// the entry's size as a signed number. Names, title and link base are HTML-escaped.
std::string DirectoryPageBody(std::string_view title, std::string_view linkBase,
                              const std::vector<CDirectoryEntry>& entries);
