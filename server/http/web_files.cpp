// Static web files: index choice, directory pages, streaming files.
#include "server/http/web_files.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "common/base/unique_fd.h"
#include "common/http/html_answer.h"
#include "server/http/socket_util.h"
#include "server/http/web_answers.h"
#include "server/http/web_path.h"

namespace {

// Files up to this size are read whole and sent with the header in one piece.
constexpr uint64_t kSmallFileBytes = 64 * 1024;
constexpr size_t kHeadReserve = 64;

// The name under which the listing holds "index.htm", else "index.html" (any case).
std::string FindIndexFile(const std::string& folder) {
    std::vector<CDirectoryEntry> entries = ListDirectory(folder);
    for (const char* wanted : {"index.htm", "index.html"}) {
        for (const CDirectoryEntry& entry : entries) {
            if (!entry.isDirectory && strcasecmp(entry.name.c_str(), wanted) == 0)
                return entry.name;
        }
    }
    return std::string();
}

}  // namespace

CFileTarget ResolveFileRequest(const CFileRequest& request) {
    CFileTarget target;
    auto nothing = [](std::string reason) {
        CFileTarget none;
        none.reason = std::move(reason);
        return none;
    };
    if (request.root.empty()) {
        return nothing(request.name.empty()
                           ? "no base folder: WebBaseDir is empty and no virtual directory "
                             "matches (corvel web base DIR sets one)"
                           : "the virtual directory " + request.name + " has no folder");
    }
    std::string rest = request.remainingUrl;
    size_t first = rest.find_first_not_of("/\\");
    rest = first == std::string::npos ? std::string() : rest.substr(first);
    if (!request.name.empty() && rest.compare(0, request.name.size(), request.name) == 0) {
        rest.erase(0, request.name.size());
    }
    std::string path = CollapseSeparators(request.root + "/" + rest);
    if (path.size() > 1 && path.back() == '/') path.pop_back();

    if (request.remainingUrl.empty() || request.remainingUrl == "/") {
        std::string index = FindIndexFile(path);
        if (!index.empty()) {
            path += "/" + index;
            target.isIndex = true;
        }
    }
    struct stat info {};
    if (stat(request.root.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        return nothing("the folder " + request.root + " does not exist");
    }
    if (stat(path.c_str(), &info) != 0) return nothing("no file " + path);
    if (!ResolvesInside(path, request.root)) {
        return nothing("not allowed: " + path + " lies outside " + request.root);
    }
    for (const std::string& excluded : request.excludedRoots) {
        if (ResolvesInside(path, excluded)) {
            return nothing("not allowed: " + path +
                           " lies in the folder of a protected virtual directory");
        }
    }
    if (S_ISDIR(info.st_mode)) {
        target.kind = CFileTarget::kDirectory;
    } else if (S_ISREG(info.st_mode)) {
        target.kind = CFileTarget::kFile;
    } else {
        return nothing("not a file: " + path);
    }
    target.path = path;
    return target;
}

bool ServeFileRequest(int socket, const CFileRequest& request) {
    CSocketAnswerStream out(socket);
    return ServeFileRequest(out, request);
}

bool ServeFileRequest(IAnswerStream& out, const CFileRequest& request, std::string* reason) {
    CFileTarget target = ResolveFileRequest(request);
    if (reason != nullptr) *reason = target.reason;
    if (target.kind == CFileTarget::kDirectory) {
        CHTMLAnswer answer;
        answer.Body().AppendText(
            DirectoryPageBody(target.path, request.linkBase, ListDirectory(target.path)));
        CDataString page;
        answer.Serialize(page);
        return out.Write(page.View());
    }
    if (target.kind != CFileTarget::kFile) return false;
    UniqueFd file(open(target.path.c_str(), O_RDONLY | O_CLOEXEC));
    if (file.get() < 0) {
        if (reason != nullptr) *reason = target.path + " cannot be opened: " + std::strerror(errno);
        return false;
    }
    struct stat info {};
    if (fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode)) return false;
    const std::string& contentType =
        target.isIndex ? std::string("text/html") : request.contentType;
    const auto size = static_cast<uint64_t>(info.st_size);
    std::string head;
    head.reserve(kHeadReserve + contentType.size() +
                 (size <= kSmallFileBytes ? static_cast<size_t>(size) : 0));
    head.append("HTTP/1.0 200 OK\r\nContent-Type: ").append(contentType).append("\r\n\r\n");
    if (size > kSmallFileBytes) return out.Write(head) && out.WriteFile(file.get(), 0, size);
    // A small file goes out with its header in one send.
    const size_t headBytes = head.size();
    head.resize(headBytes + static_cast<size_t>(size));
    size_t got = 0;
    while (got < size) {
        ssize_t n = pread(file.get(), head.data() + headBytes + got,
                          static_cast<size_t>(size) - got, static_cast<off_t>(got));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) break;  // the file became shorter meanwhile
        got += static_cast<size_t>(n);
    }
    head.resize(headBytes + got);
    return out.Write(head);
}
