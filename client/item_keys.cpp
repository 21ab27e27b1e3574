// ClientIDs and server keys.
#include "client/item_keys.h"

std::string MakeClientId(long oid, std::string_view store) {
    std::string id = std::to_string(oid);
    if (!store.empty()) id += "@" + std::string(store);
    return id;
}

bool ParseClientId(std::string_view text, long& oid, std::string& store) {
    if (text.empty() || text.size() > kMaxClientIdLength) return false;
    size_t at = text.find('@');
    std::string_view digits = text.substr(0, at);
    if (digits.empty() || digits.size() > 10) return false;
    long long value = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + (c - '0');
    }
    if (value <= 0 || value > 2147483647LL) return false;
    std::string_view rest = at == std::string_view::npos ? std::string_view() : text.substr(at + 1);
    if (at != std::string_view::npos && rest.empty()) return false;
    oid = static_cast<long>(value);
    store = std::string(rest);
    return true;
}

bool IsWellFormedServerKey(std::string_view key) {
    if (key.empty() || key.size() > kMaxServerKeyLength) return false;
    for (char c : key) {
        if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) return false;
    }
    return true;
}
