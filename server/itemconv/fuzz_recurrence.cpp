// Fuzz target: the recurrence blob reader and HTML rendering on arbitrary bytes.
// A blob that reads must write back to bytes that read again as the same blob;
// HTML rendered from UTF-8 stays UTF-8, and a body converted for the wire is
// always UTF-8.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string_view>

#include "common/wbxml/text_convert.h"
#include "server/itemconv/html_to_text.h"
#include "server/itemconv/recurrence_blob.h"
#include "server/itemconv/recurrence_mapping.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::span<const std::uint8_t> bytes(data, size);
    if (std::optional<CRecurrenceBlob> blob = DecodeRecurrenceBlob(bytes)) {
        std::vector<std::uint8_t> again = EncodeRecurrenceBlob(*blob);
        std::optional<CRecurrenceBlob> reread = DecodeRecurrenceBlob(again);
        if (!reread || !(*reread == *blob)) std::abort();
        RecurrencePattern pattern;
        ApplyBlobToPattern(*blob, std::nullopt, pattern);
        std::vector<std::uint8_t> own = EncodeRecurrenceBlob(BlobFromPattern(pattern));
        if (!DecodeRecurrenceBlob(own)) std::abort();
    }
    std::string_view text(reinterpret_cast<const char*>(data), size);
    std::string rendered = HtmlToText(text);
    if (TextEncodingOf(text.substr(0, text.find('\0'))) == TextEncoding::kUtf8 &&
        !IsValidUtf8(rendered))
        std::abort();
    if (!IsValidUtf8(HtmlBodyToUtf8(text))) std::abort();
    HeadersSayHtml(text);
    return 0;
}
