// Every prefix of a valid document is read, built and dumped without a crash or
// a read past its end (the sanitizer build checks the reads).
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "common/wbxml/wbxml.h"
#include "common/wbxml/wbxml_test_util.h"

namespace {

// A request-like document with every token kind the reader knows.
std::string SampleDocument() {
    CWBXML w;
    w.BeginDocument(256);
    w.StartTag(0, 0x01);  // Sync
    w.StartTag(0, 0x15);  // Folder
    w.WriteElement(0, 0x18, "F1");
    w.StartTag(0, 0x1D);  // Add
    w.WriteIntElement(0, 0x19, 17);
    w.StartTag(0, 0x14);  // COLLECTION
    w.WriteElement(1, 0x1D, "M\xC3\xBCller");
    w.WriteElement(1, 0x1B, "Ann");
    w.StartTag(6, 0x00);  // Recurrence
    w.WriteElement(6, 0x03, "1");
    w.EndTag();
    w.EndTag();
    w.EndTag();
    w.EndTag();
    std::string doc(w.Document().View());
    // Integer tokens, a tag without content bit and a stray end, then close Sync.
    doc += Bytes("00 00 5C 02 10 00 00 00 04 FF FF FF FF 01 15 01 01");
    return doc;
}

std::vector<std::string> WalkLines(const std::string& bytes) {
    CWBXML r;
    r.SetDocument(bytes);
    CWBXMLEvent e;
    std::vector<std::string> lines;
    for (;;) {
        bool more = r.NextEvent(e);
        if (e.EventKind == kWBXMLNoEvent) break;
        lines.push_back(
            Cat(std::to_string(e.EventKind), " ", e.path, " ", e.tagText, " ", e.value));
        if (!more) break;
    }
    EXPECT_TRUE(r.ReaderAtEnd());
    EXPECT_FALSE(r.NextEvent(e));
    EXPECT_EQ(e.EventKind, kWBXMLNoEvent);
    return lines;
}

}  // namespace

TEST(WBXMLTruncation, EveryPrefixWalksToAPrefixOfTheEvents) {
    const std::string doc = SampleDocument();
    const std::vector<std::string> full = WalkLines(doc);
    ASSERT_EQ(full.size(), 32u);
    for (size_t length = 0; length <= doc.size(); ++length) {
        std::vector<std::string> part = WalkLines(doc.substr(0, length));
        ASSERT_LE(part.size(), full.size()) << length;
        for (size_t i = 0; i < part.size(); ++i) EXPECT_EQ(part[i], full[i]) << length << " " << i;
    }
}

TEST(WBXMLTruncation, EveryPrefixBuildsWithoutReadingPastTheEnd) {
    const std::string doc = SampleDocument();
    size_t completeAt = 0;
    for (size_t length = 0; length <= doc.size(); ++length) {
        CWBXML r;
        r.SetDocument(doc.substr(0, length));
        CWBXMLEvent e;
        CWBXMLLiterals list;
        bool ended = r.BuildTree(list, e);
        if (ended && completeAt == 0) completeAt = length;
        EXPECT_EQ(ended, completeAt != 0) << length;
    }
    // Read from the top, the tree ends with the end of Sync, before the stray end.
    EXPECT_EQ(completeAt, doc.size() - 1);
}

TEST(WBXMLTruncation, EveryPrefixDumpsAndClosesTheDump) {
    const std::string doc = SampleDocument();
    for (size_t length = 0; length <= doc.size(); ++length) {
        // An exactly sized block, so the address sanitizer sees any read past it.
        std::vector<unsigned char> block(doc.begin(), doc.begin() + static_cast<long>(length));
        CWBXML w;
        std::ostringstream out;
        w.DumpDocument(out, block.data(), block.size());
        const std::string text = out.str();
        ASSERT_GE(text.size(), 45u);
        EXPECT_EQ(text.substr(text.size() - 45), "---------------------- cut -----------------\n")
            << length;
    }
}
