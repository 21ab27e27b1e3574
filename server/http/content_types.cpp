// Content types of web files.
#include "server/http/content_types.h"

namespace {

struct ContentTypeRow {
    std::string_view ending;
    const char* type;
};

constexpr ContentTypeRow kContentTypes[] = {
    {"gif", "image/gif"}, {"jpg", "image/jpeg"}, {"jpeg", "image/jpeg"},
    {"png", "image/png"}, {"zip", "image/zip"},  {"gz", "image/gz"},
    {"tar", "image/tar"}, {"htm", "text/html"},  {"html", "text/html"},
};

}  // namespace

std::string ContentTypeForUrl(std::string_view url) {
    for (const ContentTypeRow& row : kContentTypes) {
        if (url.size() >= row.ending.size() &&
            url.substr(url.size() - row.ending.size()) == row.ending) {
            return row.type;
        }
    }
    return kDefaultContentType;
}
