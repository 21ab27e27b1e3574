#include <gtest/gtest.h>

#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/wbxml/wbxml.h"
#include "common/wbxml/wbxml_test_util.h"
#include "platform/win/message_box.h"

namespace {

const std::string kCutLine = "---------------------- cut -----------------\n";
// The dump's opening of a version 3 document (identifier 1, UTF-8, no string table).
const std::string kOpening = "Version = 3\nIdentifier = 1\nCharset = 106\nStringTable = 0\n" +
                             kCutLine +
                             "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n";

std::string Dump(std::string_view hex) {
    CWBXML w;
    std::ostringstream out;
    w.DumpDocument(out, Bytes(hex));
    return out.str();
}

}  // namespace

TEST(WBXMLDump, SmallDocumentAsWholeText) {
    EXPECT_EQ(Dump("03 01 6A 00 41 55 58 03 78 00 01 00 07 57 03 53 00 01 01 01"),
              kOpening +
                  " <Sync>                                  \n"
                  "  <Folder>                                \n"
                  "   <ServerID>                              \t   'x'   </ServerID>\n"
                  "   <PR_SUBJECT >                           \t   'S'   </PR_SUBJECT >\n"
                  "  </Folder>\n"
                  " </Sync>\n" +
                  kCutLine);
}

TEST(WBXMLDump, IntegersStrayEndsAndTagsWithoutContent) {
    EXPECT_EQ(Dump("03 01 6A 00 01 5C 02 05 00 00 00 04 FF FF FF FF 01 15 01"),
              kOpening +
                  "</*>\n"
                  " <BodySize>                              \n"
                  " char idenitiy 5\n"
                  " '-1' </BodySize>\n"
                  "<Folder>                                \n"
                  "</*>\n" +
                  kCutLine);
}

TEST(WBXMLDump, ShortAndCutDocumentsStillCloseTheDump) {
    EXPECT_EQ(Dump("41"),
              "Version = 65\n"
              "Identifier = 0\n"
              "Charset = 0\n"
              "StringTable = 0\n" +
                  kCutLine + "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n" +
                  kCutLine);
    // A string without its zero byte: the walk ends before it.
    EXPECT_EQ(Dump("03 01 6A 00 41 03 61 62"),
              kOpening + " <Sync>                                  \t" + kCutLine);
    // Cut integer and page switch.
    std::string cutInt = Dump("03 01 6A 00 02 01 02");
    std::string cutSwitch = Dump("03 01 6A 00 00");
    EXPECT_EQ(cutInt, cutSwitch);
    EXPECT_EQ(cutInt.substr(cutInt.size() - 45), kCutLine);
}

TEST(WBXMLDump, NestingStopsAtMaxDepth) {
    std::string hex = "03 01 6A 00";
    for (int i = 0; i < 3 * CWBXML::kMaxDepth; ++i) hex += " 55";
    std::string text = Dump(hex);
    size_t opened = 0;
    for (size_t at = text.find("<Folder>"); at != std::string::npos;
         at = text.find("<Folder>", at + 1))
        ++opened;
    EXPECT_EQ(opened, static_cast<size_t>(CWBXML::kMaxDepth));
    EXPECT_EQ(text.find(std::string(CWBXML::kMaxDepth + 1, ' ') + "<Folder>"), std::string::npos);
    EXPECT_EQ(text.substr(text.size() - 45), kCutLine);
}

TEST(WBXMLDump, KeepsHeaderValuesAndLeavesTheReaderAlone) {
    CWBXML w;
    w.SetDocument(Bytes("03 01 6A 00 41 01"));
    CWBXMLEvent e;
    std::ostringstream out;
    w.DumpDocument(out, Bytes("01 02 03 04"));
    EXPECT_EQ(w.DumpedVersion(), 1);
    EXPECT_EQ(w.DumpedIdentifier(), 2);
    EXPECT_EQ(w.DumpedCharset(), 3);
    EXPECT_EQ(w.DumpedStringTable(), 4);
    w.NextEvent(e);
    EXPECT_EQ(e.tagText, "<Sync>");
}

namespace {

// A stream buffer that refuses, once, the piece of text that contains `refuse`.
class RefusingBuffer : public std::stringbuf {
public:
    explicit RefusingBuffer(std::string refuse) : refuse_(std::move(refuse)) {}

protected:
    std::streamsize xsputn(const char* s, std::streamsize n) override {
        if (!refused_ &&
            std::string(s, static_cast<size_t>(n)).find(refuse_) != std::string::npos) {
            refused_ = true;
            throw std::runtime_error("disk full");
        }
        return std::stringbuf::xsputn(s, n);
    }

private:
    std::string refuse_;
    bool refused_ = false;
};

}  // namespace

TEST(WBXMLDump, FailureStopsTheDumpButStillWritesTheCutLine) {
    std::vector<std::string> boxes;
    SetMessageBoxSink(
        [&boxes](const std::string& text, const std::string&) { boxes.push_back(text); });
    RefusingBuffer buffer("<Folder>");
    std::ostream out(&buffer);
    out.exceptions(std::ios::badbit);
    CWBXML w;
    w.DumpDocument(out, Bytes("03 01 6A 00 41 55 01 01"));
    SetMessageBoxSink(nullptr);
    EXPECT_EQ(boxes, (std::vector<std::string>{"catch"}));
    const std::string text = buffer.str();
    EXPECT_NE(text.find(" <Sync>"), std::string::npos);
    EXPECT_EQ(text.find("Folder"), std::string::npos);
    EXPECT_EQ(text.substr(text.size() - 45), kCutLine);
}
