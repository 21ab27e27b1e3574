// CWBXML: construction, the document buffer and the writer.
#include <new>
#include <string>

#include "common/wbxml/text_convert.h"
#include "common/wbxml/wbxml.h"

namespace {

constexpr unsigned char kHeader[CWBXML::kHeaderSize] = {0x03, 0x01, 0x6A, 0x00};
constexpr unsigned char kSwitchPage = 0x00;
constexpr unsigned char kEnd = 0x01;
constexpr unsigned char kInlineString = 0x03;
constexpr unsigned char kContentBit = 0x40;
// Tokens whose byte without the content bit is a control token (00 to 04).
constexpr int32_t kLastControlToken = 0x04;

bool IsValidTag(int32_t page, int32_t token) {
    return page >= 0 && page <= 255 && token >= 0 && token <= 0x3F;
}

}  // namespace

CWBXMLEvent::CWBXMLEvent() {
    tagText.reserve(64);
    path.reserve(kMaxPathLength + 1);
    nameStack.reserve(16);
    pathMarks.reserve(16);
}

CWBXML::CWBXML() = default;
CWBXML::~CWBXML() = default;

void CWBXML::SetDocument(const void* data, size_t length) {
    // Room for the whole document and the append's slack: copied once, never regrown.
    document_.Init(length + CDataString::kAppendSlack + 1, CDataString::kDefaultSize);
    document_.AppendBytes(length, data);
    ResetReader();
}

void CWBXML::Append(const void* bytes, size_t count) {
    if (failTimes_ > 0) {
        if (failAfter_ > 0) {
            --failAfter_;
        } else {
            --failTimes_;
            throw std::bad_alloc();
        }
    }
    document_.AppendBytes(count, bytes);
}

bool CWBXML::BeginDocument(size_t capacity) {
    writerPage_ = 0;
    if (!document_.Init(capacity, kWriterGrowth)) return false;
    Append(kHeader, sizeof kHeader);
    return !document_.Failed();
}

bool CWBXML::StartTag(int32_t page, int32_t token) {
    if (!IsValidTag(page, token)) return false;
    if (page != writerPage_) {
        const unsigned char change[2] = {kSwitchPage, static_cast<unsigned char>(page)};
        Append(change, sizeof change);
        writerPage_ = page;
    }
    AppendByte(static_cast<unsigned char>(token | kContentBit));
    return !document_.Failed();
}

void CWBXML::WriteString(std::string_view text) {
    size_t zero = text.find('\0');
    if (zero != std::string_view::npos) text = text.substr(0, zero);
    AppendByte(kInlineString);
    Append(text.data(), text.size());
    AppendByte(0);
}

void CWBXML::WriteString(std::u16string_view text) {
    WriteString(std::string_view(Utf16ToUtf8(text)));
}

void CWBXML::EndTag() { AppendByte(kEnd); }

bool CWBXML::WriteElementOnce(int32_t page, int32_t token, std::string_view text) {
    if (!StartTag(page, token)) return false;
    WriteString(text);
    EndTag();
    return !document_.Failed();
}

bool CWBXML::WriteElementRetrying(int32_t page, int32_t token, std::string_view text) {
    if (!IsValidTag(page, token)) return false;
    const size_t lengthBefore = document_.Length();
    const int32_t pageBefore = writerPage_;
    for (int attempt = 0; attempt < 2; ++attempt) {
        try {
            return WriteElementOnce(page, token, text);
        } catch (...) {
            // Cut back what the failed attempt appended (a start tag or a page
            // switch written twice would corrupt the document).
            document_.Truncate(lengthBefore);
            writerPage_ = pageBefore;
        }
    }
    return false;
}

bool CWBXML::WriteElement(int32_t page, int32_t token, const char* text) {
    if (text == nullptr) return false;
    return WriteElementRetrying(page, token, std::string_view(text));
}

bool CWBXML::WriteElement(int32_t page, int32_t token, std::string_view text) {
    return WriteElementRetrying(page, token, text);
}

bool CWBXML::WriteElement(int32_t page, int32_t token, std::u16string_view text) {
    std::string utf8 = Utf16ToUtf8(text);
    return WriteElementRetrying(page, token, std::string_view(utf8));
}

bool CWBXML::WriteElementIfNotEmpty(int32_t page, int32_t token, const char* text) {
    if (text == nullptr || *text == 0) return false;
    return WriteElement(page, token, std::string_view(text));
}

bool CWBXML::WriteElementIfNotEmpty(int32_t page, int32_t token, std::string_view text) {
    if (text.empty()) return false;
    return WriteElement(page, token, text);
}

bool CWBXML::WriteElementIfNotEmpty(int32_t page, int32_t token, std::u16string_view text) {
    if (text.empty()) return false;
    return WriteElement(page, token, text);
}

bool CWBXML::WriteIntElement(int32_t page, int32_t token, int32_t value) {
    return WriteElement(page, token, std::string_view(std::to_string(value)));
}

bool CWBXML::WriteEmptyElementOnce(int32_t page, int32_t token) {
    if (token <= kLastControlToken) return WriteElementOnce(page, token, std::string_view());
    if (page != writerPage_) {
        const unsigned char change[2] = {kSwitchPage, static_cast<unsigned char>(page)};
        Append(change, sizeof change);
        writerPage_ = page;
    }
    AppendByte(static_cast<unsigned char>(token));
    return !document_.Failed();
}

bool CWBXML::WriteEmptyElement(int32_t page, int32_t token) {
    if (!IsValidTag(page, token)) return false;
    const size_t lengthBefore = document_.Length();
    const int32_t pageBefore = writerPage_;
    for (int attempt = 0; attempt < 2; ++attempt) {
        try {
            return WriteEmptyElementOnce(page, token);
        } catch (...) {
            document_.Truncate(lengthBefore);
            writerPage_ = pageBefore;
        }
    }
    return false;
}
