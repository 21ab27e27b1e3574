// The content type of a web file by the ending of its URL.
//
// Endings are tried in this order, case-sensitively and with no check for a dot in
// front: gif, jpg, jpeg, png, zip, gz, tar, htm, html. A URL with none of them is
// sent as "application/octet-stream" (never as a page a browser would render).
#pragma once

#include <string>
#include <string_view>

inline constexpr const char* kDefaultContentType = "application/octet-stream";

std::string ContentTypeForUrl(std::string_view url);
