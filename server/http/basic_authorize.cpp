// HTTP Basic check of virtual directories.
#include "server/http/basic_authorize.h"

#include "common/base/text.h"

namespace {

int Base64Value(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

}  // namespace

std::optional<std::string> DecodeBase64(std::string_view text) {
    if (text.size() >= 2 && text[0] == '+' && text[1] == ' ') text.remove_prefix(2);
    std::string out;
    size_t groups = text.size() / 4;
    for (size_t g = 0; g < groups; ++g) {
        std::string_view group = text.substr(g * 4, 4);
        int v[4];
        int padding = 0;
        for (int i = 0; i < 4; ++i) {
            if (group[i] == '=') {
                // Padding only at the end of the last group, at most two.
                if (i < 2 || g + 1 != groups) return std::nullopt;
                v[i] = 0;
                ++padding;
            } else {
                if (padding > 0) return std::nullopt;
                v[i] = Base64Value(group[i]);
                if (v[i] < 0) return std::nullopt;
            }
        }
        unsigned bits = (static_cast<unsigned>(v[0]) << 18) | (static_cast<unsigned>(v[1]) << 12) |
                        (static_cast<unsigned>(v[2]) << 6) | static_cast<unsigned>(v[3]);
        out += static_cast<char>((bits >> 16) & 0xFF);
        if (padding < 2) out += static_cast<char>((bits >> 8) & 0xFF);
        if (padding < 1) out += static_cast<char>(bits & 0xFF);
    }
    return out;
}

bool BasicAuthorize(const CHTMLCommand& request, const std::string& username,
                    const std::string& password, const ICredentialCheck* users) {
    if (username.empty()) return true;
    std::string value = request.GetHeader("Authorization");
    if (value.empty()) return false;
    if (value.size() < 6 || !EqualsIgnoringCase(std::string_view(value).substr(0, 6), "Basic ")) {
        return false;
    }
    std::optional<std::string> decoded = DecodeBase64(std::string_view(value).substr(6));
    if (!decoded) return false;
    size_t colon = decoded->find(':');
    if (colon == std::string::npos) return false;
    std::string user = decoded->substr(0, colon);
    std::string givenPassword = decoded->substr(colon + 1);
    size_t backslash = user.find('\\');
    if (backslash != std::string::npos) user.erase(0, backslash + 1);
    if (user.empty()) return false;
    if (username == "*") return users != nullptr && users->HasCredentials(user, givenPassword);
    return EqualsIgnoringCase(user, username) && givenPassword == password;
}
