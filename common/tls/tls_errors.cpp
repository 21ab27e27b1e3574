// OpenSSL's error queue as text.
#include "common/tls/tls_errors.h"

#include <openssl/err.h>

#include <array>

std::string TakeTlsError() {
    unsigned long code = ERR_get_error();
    ERR_clear_error();
    if (code == 0) return "no reason given";
    std::array<char, 256> text{};
    ERR_error_string_n(code, text.data(), text.size());
    return text.data();
}
