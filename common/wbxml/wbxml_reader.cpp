// CWBXML: the pull reader and the element tree builder.
#include <algorithm>
#include <cstring>
#include <string>

#include "common/wbxml/text_convert.h"
#include "common/wbxml/wbxml.h"
#include "common/wbxml/wbxml_trace.h"

namespace {

constexpr unsigned char kSwitchPage = 0x00;
constexpr unsigned char kEnd = 0x01;
constexpr unsigned char kInt32 = 0x02;
constexpr unsigned char kInlineString = 0x03;
constexpr unsigned char kInt32Other = 0x04;
constexpr unsigned char kContentBit = 0x40;
constexpr unsigned char kTokenMask = 0x3F;

// "<name>" or "</name>", reusing the text's storage.
void SetTagText(std::string& text, std::string_view open, std::string_view name) {
    text.clear();
    text.append(open.data(), open.size());
    text.append(name.data(), name.size());
    text.push_back('>');
}

void OpenElement(CWBXMLEvent& event, std::string_view name) {
    SetTagText(event.tagText, "<", name);
    std::string& path = event.path;
    event.pathMarks.push_back(path.size());
    if (path.size() < CWBXMLEvent::kMaxPathLength) {
        if (!path.empty()) path.push_back('.');
        path.append(name);
        if (path.size() > CWBXMLEvent::kMaxPathLength) path.resize(CWBXMLEvent::kMaxPathLength);
    }
    event.nameStack.push_back(name);
}

void CloseElement(CWBXMLEvent& event) {
    event.EventKind = kWBXMLEndTag;
    if (event.nameStack.empty()) {
        event.tagText.assign("</>");
        return;
    }
    SetTagText(event.tagText, "</", event.nameStack.back());
    event.nameStack.pop_back();
    if (!event.pathMarks.empty()) {
        event.path.resize(std::min(event.path.size(), event.pathMarks.back()));
        event.pathMarks.pop_back();
    }
}

// Inline strings arrive as UTF-8; tree readers want ANSI text. On a UTF-8 system
// valid text stays as it is, without a copy.
void ConvertToAnsi(std::string& value) {
    if (AnsiCharsetIsUtf8() && IsValidUtf8(value)) return;
    value = FromUtf8(value);
}

}  // namespace

void CWBXML::ResetReader() {
    readerEnd_ = document_.Length();
    cursor_ = std::min(kHeaderSize, readerEnd_);
    readerPage_ = 0;
}

bool CWBXML::ReaderAtEnd() const { return cursor_ >= std::min(readerEnd_, document_.Length()); }

CWBXML::ReadResult CWBXML::ReadEvent(CWBXMLEvent& event, bool treeMode) {
    event.value.clear();
    event.tagText.clear();
    const auto* data = reinterpret_cast<const unsigned char*>(document_.Data());
    // The caller may have cut the buffer since ResetReader.
    const size_t end = std::min(readerEnd_, document_.Length());
    size_t at = cursor_;
    if (event.PendingEnd) {
        event.PendingEnd = false;
        CloseElement(event);
        return at < end ? kEventMore : kEventLast;
    }
    while (at < end) {
        const unsigned char b = data[at++];
        switch (b) {
            case kSwitchPage:
                if (at >= end) goto cut;
                readerPage_ = data[at++];
                continue;
            case kEnd:
                CloseElement(event);
                break;
            case kInt32:
            case kInt32Other: {
                if (end - at < 4) goto cut;
                uint32_t bits = static_cast<uint32_t>(data[at]) |
                                static_cast<uint32_t>(data[at + 1]) << 8 |
                                static_cast<uint32_t>(data[at + 2]) << 16 |
                                static_cast<uint32_t>(data[at + 3]) << 24;
                at += 4;
                event.value = std::to_string(static_cast<int32_t>(bits));
                event.EventKind = kWBXMLContent;
                break;
            }
            case kInlineString: {
                const void* zero = std::memchr(data + at, 0, end - at);
                if (zero == nullptr) goto cut;
                const size_t stop =
                    static_cast<size_t>(static_cast<const unsigned char*>(zero) - data);
                event.value.assign(reinterpret_cast<const char*>(data + at), stop - at);
                at = stop + 1;
                if (treeMode) ConvertToAnsi(event.value);
                event.EventKind = kWBXMLContent;
                break;
            }
            default: {
                // Deeper than any Vantro document nests: the walk ends here, so a
                // document of nothing but start tags costs no memory per tag.
                if (event.nameStack.size() >= static_cast<size_t>(kMaxReaderDepth)) goto cut;
                const int32_t token = b & kTokenMask;
                OpenElement(event, ElementName(readerPage_, token));
                event.codePage = readerPage_;
                event.token = token;
                event.EventKind = kWBXMLStartTag;
                // Without content the end follows at once, whatever comes next.
                if ((b & kContentBit) == 0) {
                    event.PendingEnd = true;
                    cursor_ = at;
                    return kEventMore;
                }
                break;
            }
        }
        cursor_ = at;
        return at < end ? kEventMore : kEventLast;
    }
cut:
    // Nothing left, or a token cut off by the end of the document: the walk ends.
    cursor_ = end;
    event.EventKind = kWBXMLNoEvent;
    return kNoEvent;
}

bool CWBXML::NextEvent(CWBXMLEvent& event) { return ReadEvent(event, false) == kEventMore; }

bool CWBXML::NextTreeEvent(CWBXMLEvent& event) { return ReadEvent(event, true) == kEventMore; }

bool CWBXML::BuildTree(CWBXMLLiterals& list, CWBXMLEvent& event) {
    return BuildTreeLevel(list, event, 1);
}

bool CWBXML::BuildTreeLevel(CWBXMLLiterals& list, CWBXMLEvent& event, int level) {
    int depth = 0;
    int32_t fieldPage = -1;
    int32_t fieldToken = -1;
    const auto* data = reinterpret_cast<const unsigned char*>(document_.Data());
    for (;;) {
        if (ReadEvent(event, true) == kNoEvent) return false;
        switch (event.EventKind) {
            case kWBXMLStartTag: {
                if (event.PendingEnd) {
                    // A tag without the content bit: an empty field, whose end the
                    // next read reports without consuming a byte.
                    list.Add(event.codePage, event.token);
                    if (ReadEvent(event, true) == kNoEvent) return false;
                    break;
                }
                ++depth;
                const size_t end = std::min(readerEnd_, document_.Length());
                // A start tag directly followed by a control token holds text (or
                // is empty): a field. At the end of the document it is a field too;
                // the next read then finds nothing.
                if (cursor_ >= end || data[cursor_] <= kInt32Other) {
                    fieldPage = event.codePage;
                    fieldToken = event.token;
                    break;
                }
                if (level >= kMaxDepth) {
                    cursor_ = end;
                    return false;
                }
                CWBXMLLiteral& container = list.Add(event.codePage, event.token);
                container.children = std::make_unique<CWBXMLLiterals>();
                if (!BuildTreeLevel(*container.children, event, level + 1)) return false;
                --depth;
                break;
            }
            case kWBXMLContent:
                if (fieldPage == -1 && fieldToken == -1)
                    AddWBXMLTrace("Literal without field " + event.value);
                list.Add(fieldPage, fieldToken, std::move(event.value));
                event.value.clear();
                // The field's end.
                if (ReadEvent(event, true) == kNoEvent) return false;
                --depth;
                break;
            case kWBXMLEndTag:
                if (depth - 1 < 0) return true;
                --depth;
                break;
            default:
                return false;
        }
    }
}
