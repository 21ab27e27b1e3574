// libFuzzer target: ParseFingerprint over arbitrary bytes (a fingerprint typed by
// the user, or read back from the kept file). What it accepts is in the shown form
// and parses to itself again.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "common/tls/tls_fingerprint.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    std::optional<std::string> parsed = ParseFingerprint(text);
    if (!parsed) return 0;
    if (parsed->size() != 95) std::abort();
    std::optional<std::string> again = ParseFingerprint(*parsed);
    if (!again || *again != *parsed) std::abort();
    return 0;
}
