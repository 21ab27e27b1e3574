// libFuzzer target: the request path cleaning over arbitrary bytes. What comes out
// holds no "..", NUL, "\", run of "/" or "." segment, cleans to itself again, and
// is reached by every spelling that differs only in dot segments and separators.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "common/base/text.h"
#include "server/http/web_path.h"

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

bool HasDotSegment(std::string_view path) {
    size_t pos = 0;
    while (pos <= path.size()) {
        size_t end = path.find('/', pos);
        if (end == std::string_view::npos) end = path.size();
        if (path.substr(pos, end - pos) == ".") return true;
        pos = end + 1;
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view url(reinterpret_cast<const char*>(data), size);
    std::string normal = NormalizePath(url);
    Check(normal.size() <= url.size() + 1);
    Check(NormalizePath(normal) == normal);
    Check(normal.find("//") == std::string::npos);
    Check(normal.find('\\') == std::string::npos);
    Check(!HasDotSegment(normal));

    std::optional<std::string> clean = CleanRequestPath(url);
    if (!clean) return 0;
    Check(clean->find("..") == std::string::npos);
    Check(clean->find('\0') == std::string::npos);
    Check(NormalizePath(*clean) == *clean);
    // A "%" in the clean path came from the URL as "%25" or stood alone, so cleaning
    // it again may decode it; without any "%" it is its own clean form.
    if (clean->find('%') == std::string::npos) Check(CleanRequestPath(*clean) == clean);
    // The same path with "/./" and doubled separators put in front cleans the same.
    std::string detour = "/./" + std::string(url);
    if (!url.empty() && (url[0] == '/' || url[0] == '\\')) {
        Check(CleanRequestPath(detour) == clean);
    }
    Check(IsNormalRequestPath(url) == (*clean == PercentDecode(url)));
    return 0;
}
