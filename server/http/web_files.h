// Serving a GET from the file system: a file, an index file, or a directory page.
//
// Answers: a file is sent as "HTTP/1.0 200 OK\r\nContent-Type: <type>\r\n\r\n"
// followed by its bytes (a small file in the same send as the header, a larger one
// straight from the file where the stream allows it), without a length
// (the end of the connection ends the body); an index file chosen for the
// directory's own URL goes out as "text/html". A directory is answered with the
// directory page (a CHTMLAnswer, status 200, "text/html").
//
// Nothing is sent when: the root is empty; the path does not exist or cannot be
// opened; it is neither a regular file nor a directory (FIFOs, devices); or it
// resolves (symbolic links followed) outside the root or inside one of the
// excluded folders. The reason is then given for the live trace: "no base folder:
// WebBaseDir is empty ...", "the virtual directory <name> has no folder", "the
// folder <root> does not exist", "no file <path>", "not allowed: <path> lies
// outside <root>", "not allowed: <path> lies in the folder of a protected virtual
// directory", "not a file: <path>", "<path> cannot be opened: <error>".
//
// Thread use: any thread; nothing is shared.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "server/http/answer_stream.h"

struct CFileRequest {
    std::string root;          // the folder the request may reach
    std::string remainingUrl;  // decoded URL after the virtual directory's name
    std::string name;          // the matched virtual directory's name, or empty
    std::string linkBase;      // the request URL as received, for the page's links
    std::string contentType;   // by the URL's ending
    // Folders the request must not reach even inside root (other directories'
    // protected folders); a target resolving into one of them is not served.
    std::vector<std::string> excludedRoots;
};

// What the request resolves to, without sending anything (for tests and logging).
struct CFileTarget {
    enum Kind { kNothing, kFile, kDirectory } kind = kNothing;
    std::string path;      // the file to send, or the directory to list
    bool isIndex = false;  // an index file chosen for "/": sent as "text/html"
    std::string reason;    // kNothing: why (see above)
};
CFileTarget ResolveFileRequest(const CFileRequest& request);

// Resolves and writes the answer to out. False when nothing was sent or the
// sending failed; when nothing was sent, reason (if given) says why.
bool ServeFileRequest(IAnswerStream& out, const CFileRequest& request,
                      std::string* reason = nullptr);
// The same, writing to a connected socket.
bool ServeFileRequest(int socket, const CFileRequest& request);
