// CWBXML: the WBXML document of the Vantro protocol with its writer, its pull
// reader, the element tree builder and the readable dump; CWBXMLEvent: one reader
// event. Compiled into Corvel and Skiff alike.
//
// The subset spoken: a four-byte header (written as 03 01 6A 00, skipped unread
// when reading), page switches (00 page), end (01), inline strings (03 bytes 00),
// two tokens carrying a four-byte little-endian integer (02, 04), and tags whose
// content bit (0x40) is honoured and whose attribute bit (0x80) is ignored. No
// string table, attributes, opaque data or multi-byte integers.
//
// Input from a peer is never trusted: the reader and the dump stop at the end of
// the document however it is cut (a truncated token ends the walk), and the tree
// builder and the dump stop at kMaxDepth nested elements.
//
// Walking a received document (every event, the last one included):
//   CWBXML request;
//   request.SetDocument(body, bodyLength);
//   CWBXMLEvent event;
//   for (bool more = true; more;) {
//       more = request.NextEvent(event);
//       if (event.EventKind == kWBXMLNoEvent) break;
//       ... act on event.EventKind, event.codePage, event.token, event.value ...
//   }
// Skiff converts event values with RepairUtf8 and Utf8ToUtf16 and writes its UTF-16 texts with
// the char16_t overloads below (text_convert.h).
//
// A CWBXML, its events and its trees are used by one thread at a time; every
// connection builds its own. The tag table is shared constant data.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

#include "common/http/data_string.h"
#include "common/wbxml/tag_table.h"
#include "common/wbxml/wbxml_literals.h"

enum WBXMLEventKind : int {
    kWBXMLNoEvent = 0,  // nothing was left to read (or the rest was a cut token)
    kWBXMLStartTag = 1,
    kWBXMLContent = 2,
    kWBXMLEndTag = 3,
};

// The reader's event. The caller owns it and passes the same record to every call
// for one document; a fresh record starts a walk at the top level.
struct CWBXMLEvent {
    CWBXMLEvent();

    int EventKind = kWBXMLNoEvent;
    // Page and token of the last start tag.
    int32_t codePage = 0;
    int32_t token = 0;
    // The content of a content event (empty for other events): the bytes as
    // received for NextEvent, ANSI text for NextTreeEvent.
    std::string value;
    // "<name>" for a start, "</name>" for an end, "</>" for an end with no open
    // element; empty for content.
    std::string tagText;
    // Element names of the open elements, innermost last. The views point into
    // the tag table and stay valid for the life of the program.
    std::vector<std::string_view> nameStack;
    // The open elements' names joined by "." ("Sync.Folder.Add"). A path that
    // would pass kMaxPathLength characters keeps its first kMaxPathLength; the
    // path returns to its exact earlier value as elements end.
    std::string path;
    // Set when a start tag without the content bit was reported: the next call
    // reports its end without reading a byte.
    bool PendingEnd = false;

    static constexpr size_t kMaxPathLength = 255;

    // Length of path before each open element's name was added (reader bookkeeping).
    std::vector<size_t> pathMarks;
};

class CWBXML {
public:
    static constexpr size_t kHeaderSize = 4;
    // Growth step of a document being written.
    static constexpr size_t kWriterGrowth = 1024;
    // Capacity the protocol server passes to BeginDocument for an answer.
    static constexpr size_t kAnswerCapacity = 65536;
    // Deepest element nesting that BuildTree (below the element it starts in) and
    // DumpDocument follow; a deeper document ends their walk as a truncated one would.
    static constexpr int kMaxDepth = 100;
    // Elements the pull reader keeps open at once: room for a tree of kMaxDepth
    // below a walk of the same depth. One more start tag ends the walk.
    static constexpr int kMaxReaderDepth = 2 * kMaxDepth;

    CWBXML();
    virtual ~CWBXML();
    CWBXML(const CWBXML&) = delete;
    CWBXML& operator=(const CWBXML&) = delete;

    // The document buffer, for writing and for reading alike. A reader fills it
    // with the received bytes and then calls ResetReader.
    CDataString& Document() { return document_; }
    const CDataString& Document() const { return document_; }
    // Copies length bytes into the document buffer and calls ResetReader.
    void SetDocument(const void* data, size_t length);
    void SetDocument(std::string_view bytes) { SetDocument(bytes.data(), bytes.size()); }

    // ---- Writer ----
    // Re-initialises the buffer (initial size capacity, growth kWriterGrowth),
    // sets the writer page to 0 and appends the header 03 01 6A 00. False when the
    // buffer could not be allocated.
    bool BeginDocument(size_t capacity = kAnswerCapacity);
    // Appends 00 page when page differs from the writer page (which then becomes
    // page), then token | 0x40. Every tag is written with the content bit, so a
    // tag byte never collides with the control tokens 00 to 04. False, and nothing
    // written, when page is not 0..255 or token not 0..63.
    bool StartTag(int32_t page, int32_t token);
    // Appends 03, the bytes of text up to its first zero byte, and 00. The bytes
    // are written unchanged; callers convert to UTF-8 where needed (ToUtf8). A zero
    // byte inside text would end the string early on the wire and put the rest of
    // the document out of step, so the text is cut there.
    void WriteString(std::string_view text);
    // A null text is written as the empty string.
    void WriteString(const char* text) { WriteString(std::string_view(text ? text : "")); }
    // Skiff's texts: written as UTF-8.
    void WriteString(std::u16string_view text);
    // Appends 01.
    void EndTag();
    // StartTag, WriteString, EndTag. A null text writes nothing and returns false.
    // Should the steps raise an exception, the document is cut back to its length
    // before the element and the steps are tried once more; a second failure
    // leaves the document as it was before the call and returns false. False also
    // when the tag is invalid or the buffer failed to grow (the document is then
    // unusable; the caller ends its request).
    bool WriteElement(int32_t page, int32_t token, const char* text);
    bool WriteElement(int32_t page, int32_t token, std::string_view text);
    bool WriteElement(int32_t page, int32_t token, std::u16string_view text);
    // WriteElement when text is neither null nor empty; otherwise writes nothing
    // and returns false.
    bool WriteElementIfNotEmpty(int32_t page, int32_t token, const char* text);
    bool WriteElementIfNotEmpty(int32_t page, int32_t token, std::string_view text);
    bool WriteElementIfNotEmpty(int32_t page, int32_t token, std::u16string_view text);
    // WriteElement with the decimal text of value.
    bool WriteIntElement(int32_t page, int32_t token, int32_t value);
    // An element without text, standing for a field that became empty: the tag
    // byte with the content bit clear (after a page switch when needed). A token
    // from 0 to 4 without the bit would read as a control token (switch, end, the
    // integer tokens, inline string), so such a field is written as tag with the
    // content bit, an empty inline string and end (token | 0x40, 03, 00, 01), which
    // readers take the same way. Retried once after an exception as WriteElement;
    // false, nothing written, for an invalid tag or a second failure.
    bool WriteEmptyElement(int32_t page, int32_t token);
    int32_t WriterCodePage() const { return writerPage_; }

    // ---- Reader ----
    // Starts reading the buffer: cursor after the header (or at the end of a
    // shorter buffer), reader page 0.
    void ResetReader();
    // Reports the next event into event. True while bytes remain after the
    // reported event (or the end of a start tag without content bit is still to
    // come); false when it consumed the last byte, and false with EventKind
    // kWBXMLNoEvent when nothing (or only a cut token) was left, in which case the
    // cursor is at the end. Content is the bytes as received. A start tag that
    // would open more than kMaxReaderDepth elements at once ends the walk the same way.
    bool NextEvent(CWBXMLEvent& event);
    // As NextEvent, except that inline strings are converted from UTF-8 to the
    // ANSI character set (FromUtf8).
    bool NextTreeEvent(CWBXMLEvent& event);
    // Reads the rest of the current element into list (appending) and returns true
    // when it met that element's end; false when the document ended first, was
    // cut inside a token, or nested deeper than kMaxDepth (the cursor is then at
    // the end). An element whose start tag is followed by 00..04 is a field: its
    // text becomes a node with its page and token; any other element is a
    // container node with a child list. An empty element, the way a sender writes
    // a cleared field, is a node with the empty value in both of its forms: a tag
    // without the content bit (one byte), and a tag holding an empty inline string.
    // A tag with the content bit directly followed by its end yields no node. A
    // container whose first child is on another page is taken for a field, and
    // its children land in the list that holds it. A text outside any field adds
    // "Literal without field <text>" to the trace (wbxml_trace.h).
    bool BuildTree(CWBXMLLiterals& list, CWBXMLEvent& event);
    static std::string FindValue(const CWBXMLLiterals& list, int32_t page, int32_t token) {
        return ::FindValue(list, page, token);
    }
    bool ReaderAtEnd() const;

    // ---- Dump ----
    // Writes the readable form of the document in data to out: the four header
    // values, a cut line, the XML declaration, one indented line per element (a
    // leaf on one line), and the closing cut line, which is written however the
    // walk ended. Does not touch the reader. Missing header bytes count as 0.
    void DumpDocument(std::ostream& out, const void* data, size_t length);
    void DumpDocument(std::ostream& out, std::string_view bytes) {
        DumpDocument(out, bytes.data(), bytes.size());
    }
    // Header values of the last dumped document.
    int DumpedVersion() const { return header_[0]; }
    int DumpedIdentifier() const { return header_[1]; }
    int DumpedCharset() const { return header_[2]; }
    int DumpedStringTable() const { return header_[3]; }

    // Test seam, not part of the interface: after `count` more appends, the next
    // `times` appends raise std::bad_alloc.
    void TEST_FailAppendAfter(int count, int times = 1) {
        failAfter_ = count;
        failTimes_ = times;
    }

private:
    void Append(const void* bytes, size_t count);
    void AppendByte(unsigned char byte) { Append(&byte, 1); }
    bool WriteElementOnce(int32_t page, int32_t token, std::string_view text);
    bool WriteElementRetrying(int32_t page, int32_t token, std::string_view text);
    bool WriteEmptyElementOnce(int32_t page, int32_t token);
    enum ReadResult { kNoEvent, kEventMore, kEventLast };
    ReadResult ReadEvent(CWBXMLEvent& event, bool treeMode);
    bool BuildTreeLevel(CWBXMLLiterals& list, CWBXMLEvent& event, int level);
    void DumpTokens(std::ostream& out, const unsigned char* data, size_t length);

    CDataString document_;
    int32_t writerPage_ = 0;
    size_t cursor_ = 0;
    size_t readerEnd_ = 0;
    int32_t readerPage_ = 0;
    std::array<int, kHeaderSize> header_{};
    int failAfter_ = 0;
    int failTimes_ = 0;
};
