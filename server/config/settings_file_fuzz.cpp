// libFuzzer target: settings.inf over arbitrary bytes. Whatever is read writes a
// file that reads back as the same values, without a line skipped, and writes the
// same bytes again.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "server/config/settings_file.h"
#include "server/config/text_file.h"

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // A written line may be a few bytes longer than the line it came from (the
    // blanks before a WebDir's ";"); a line near the limit is not the case here.
    if (size > kMaxLineLength / 2) return 0;
    std::string_view text(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> notes;
    CSettingsFileValues values = ParseSettingsFile(text, notes);
    std::string written = SerializeSettingsFile(values);
    std::vector<std::string> again;
    CSettingsFileValues reread = ParseSettingsFile(written, again);
    Check(again.empty());
    Check(reread == values);
    Check(SerializeSettingsFile(reread) == written);
    Check(MergeSettingsFiles(values, reread, values) == reread);
    return 0;
}
