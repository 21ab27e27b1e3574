// libFuzzer target: the vCard reader over arbitrary bytes. It must end, report
// sane line numbers and keep every decoded text UTF-8.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include "common/vcard/read_each.h"
#include "common/vcard/text_codec.h"
#include "common/vcard/vcard_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
    vcard::VCardReader reader(in);
    std::size_t rounds = 0;
    auto count = [&] {
        if (++rounds > size + 2) std::abort();
    };
    vcard::ReadEach<vcard::VCardEntry, vcard::VCardError>(
        reader,
        [&](const vcard::VCardEntry& entry) {
            count();
            for (const vcard::VCardProperty& p : entry.properties) {
                if (!p.binary && !vcard::IsUtf8(p.value)) std::abort();
                auto pieces = vcard::SplitEscaped(p.value, ';');
                if (pieces.empty()) std::abort();
            }
        },
        [&](const vcard::VCardError& error) {
            count();
            if (error.line > reader.linesRead()) std::abort();
        });
    return 0;
}
