// Request URL to file path.
#include "server/http/web_path.h"

#include <limits.h>
#include <stdlib.h>

#include <memory>

#include "common/base/text.h"

namespace {

struct FreeDeleter {
    void operator()(char* p) const { free(p); }
};

std::optional<std::string> RealPath(const std::string& path) {
    std::unique_ptr<char, FreeDeleter> resolved(realpath(path.c_str(), nullptr));
    if (!resolved) return std::nullopt;
    return std::string(resolved.get());
}

}  // namespace

std::string CollapseSeparators(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        bool separator = text[i] == '/' || text[i] == '\\';
        if (!separator) {
            out += text[i];
        } else if (out.empty() || out.back() != '/') {
            out += '/';
        }
    }
    return out;
}

std::string NormalizePath(std::string_view path) {
    std::string out;
    out.reserve(path.size());
    bool rooted = !path.empty() && (path[0] == '/' || path[0] == '\\');
    if (rooted) out += '/';
    size_t pos = 0;
    bool trailing = false;  // the last segment seen was empty or "."
    while (pos <= path.size()) {
        size_t end = path.find_first_of("/\\", pos);
        if (end == std::string_view::npos) end = path.size();
        std::string_view segment = path.substr(pos, end - pos);
        if (segment.empty() || segment == ".") {
            trailing = end < path.size() || segment == "." || !out.empty();
        } else {
            if (!out.empty() && out.back() != '/') out += '/';
            out.append(segment);
            trailing = false;
        }
        pos = end + 1;
    }
    // "a/" and "a/." keep their end separator, "" and "." stay empty.
    if (trailing && !out.empty() && out.back() != '/') out += '/';
    return out;
}

std::optional<std::string> CleanRequestPath(std::string_view url) {
    if (url.find("..") != std::string_view::npos) return std::nullopt;
    std::string decoded = PercentDecode(url);
    if (decoded.find('\0') != std::string::npos) return std::nullopt;
    if (decoded.find("..") != std::string::npos) return std::nullopt;
    return NormalizePath(decoded);
}

bool IsNormalRequestPath(std::string_view url) {
    std::optional<std::string> clean = CleanRequestPath(url);
    return clean && *clean == PercentDecode(url);
}

bool ResolvesInside(const std::string& path, const std::string& root) {
    std::optional<std::string> realRoot = RealPath(root);
    std::optional<std::string> realTarget = RealPath(path);
    if (!realRoot || !realTarget) return false;
    if (*realTarget == *realRoot) return true;
    std::string prefix = *realRoot;
    if (prefix.empty() || prefix.back() != '/') prefix += '/';
    return realTarget->compare(0, prefix.size(), prefix) == 0;
}

std::string HtmlEscape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            default:
                out += c;
        }
    }
    return out;
}
