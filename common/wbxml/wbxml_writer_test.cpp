#include <gtest/gtest.h>

#include <new>
#include <string>

#include "common/wbxml/wbxml.h"
#include "common/wbxml/wbxml_test_util.h"

namespace {

std::string Written(const CWBXML& w) { return HexBytes(w.Document().View()); }

}  // namespace

TEST(WBXMLWriter, HeaderAndOneElement) {
    CWBXML w;
    ASSERT_TRUE(w.BeginDocument(65536));
    EXPECT_EQ(Written(w), "03 01 6A 00");
    EXPECT_TRUE(w.WriteElement(0, 0x23, "bob"));
    EXPECT_EQ(Written(w), "03 01 6A 00 63 03 62 6F 62 00 01");
}

TEST(WBXMLWriter, PageSwitchOnlyWhenThePageChanges) {
    CWBXML w;
    w.BeginDocument(64);
    EXPECT_TRUE(w.WriteElement(1, 0x1B, std::string("Ann")));
    EXPECT_EQ(Written(w), "03 01 6A 00 00 01 5B 03 41 6E 6E 00 01");
    EXPECT_TRUE(w.WriteElement(1, 0x1D, "B"));
    EXPECT_EQ(Written(w), "03 01 6A 00 00 01 5B 03 41 6E 6E 00 01 5D 03 42 00 01");
    EXPECT_TRUE(w.StartTag(0, 0x01));
    EXPECT_EQ(w.WriterCodePage(), 0);
    EXPECT_EQ(Written(w).substr(Written(w).size() - 8), "00 00 41");
    // A new document starts on page 0 again.
    w.BeginDocument(64);
    w.WriteElement(1, 0x00, "x");
    EXPECT_EQ(Written(w), "03 01 6A 00 00 01 40 03 78 00 01");
}

TEST(WBXMLWriter, MissingAndEmptyTexts) {
    CWBXML w;
    w.BeginDocument(64);
    EXPECT_FALSE(w.WriteElement(0, 0x23, static_cast<const char*>(nullptr)));
    EXPECT_FALSE(w.WriteElementIfNotEmpty(0, 0x23, ""));
    EXPECT_FALSE(w.WriteElementIfNotEmpty(0, 0x23, std::string()));
    EXPECT_FALSE(w.WriteElementIfNotEmpty(0, 0x23, static_cast<const char*>(nullptr)));
    EXPECT_FALSE(w.WriteElementIfNotEmpty(0, 0x23, std::u16string_view()));
    EXPECT_EQ(Written(w), "03 01 6A 00");
    // An empty but present text is still written by WriteElement.
    EXPECT_TRUE(w.WriteElement(0, 0x18, ""));
    EXPECT_EQ(Written(w), "03 01 6A 00 58 03 00 01");
}

TEST(WBXMLWriter, IntegerElementsCarryTheirDecimalText) {
    CWBXML w;
    w.BeginDocument(64);
    EXPECT_TRUE(w.WriteIntElement(0, 0x2B, -5));
    EXPECT_TRUE(w.WriteIntElement(0, 0x1C, 2147483647));
    EXPECT_TRUE(w.WriteIntElement(0, 0x1C, -2147483647 - 1));
    EXPECT_EQ(Written(w),
              "03 01 6A 00 6B 03 2D 35 00 01 "
              "5C 03 32 31 34 37 34 38 33 36 34 37 00 01 "
              "5C 03 2D 32 31 34 37 34 38 33 36 34 38 00 01");
}

TEST(WBXMLWriter, ContainersAndNesting) {
    CWBXML w;
    w.BeginDocument(64);
    w.StartTag(0, 0x01);
    w.StartTag(0, 0x15);
    w.WriteElement(0, 0x18, "7");
    w.EndTag();
    w.EndTag();
    EXPECT_EQ(Written(w), "03 01 6A 00 41 55 58 03 37 00 01 01 01");
}

TEST(WBXMLWriter, TextEndsAtAnEmbeddedZeroByte) {
    CWBXML w;
    w.BeginDocument(64);
    EXPECT_TRUE(w.WriteElement(1, 0x30, std::string("ab\0cd", 5)));
    EXPECT_EQ(Written(w), "03 01 6A 00 00 01 70 03 61 62 00 01");
    w.WriteString(std::string("\0z", 2));
    w.WriteString(static_cast<const char*>(nullptr));
    EXPECT_EQ(Written(w), "03 01 6A 00 00 01 70 03 61 62 00 01 03 00 03 00");
}

TEST(WBXMLWriter, Utf16TextIsWrittenAsUtf8) {
    CWBXML w;
    w.BeginDocument(64);
    EXPECT_TRUE(w.WriteElement(1, 0x1D, u"M\u00FCller"));
    EXPECT_TRUE(w.WriteElementIfNotEmpty(1, 0x1B, u"\u20AC"));
    EXPECT_EQ(Written(w),
              "03 01 6A 00 00 01 5D 03 4D C3 BC 6C 6C 65 72 00 01 5B 03 E2 82 AC 00 01");
}

TEST(WBXMLWriter, EmptyElementsAreBareTagsOrEmptyStringsForControlTokens) {
    CWBXML w;
    w.BeginDocument(64);
    // LastName (1, 0x1D) cleared: page switch and the bare byte 1D; Department
    // (1, 0x05) on the same page: 05 alone; Birthday (1, 0x02) would be the byte
    // 02, an integer token, so it goes as 42 03 00 01.
    EXPECT_TRUE(w.WriteEmptyElement(1, 0x1D));
    EXPECT_TRUE(w.WriteEmptyElement(1, 0x05));
    EXPECT_TRUE(w.WriteEmptyElement(1, 0x02));
    EXPECT_FALSE(w.WriteEmptyElement(1, 0x40));
    EXPECT_FALSE(w.WriteEmptyElement(256, 0x1D));
    EXPECT_EQ(Written(w), "03 01 6A 00 00 01 1D 05 42 03 00 01");
    // Read back as a tree, all three are fields with the empty value.
    CWBXML both;
    both.SetDocument(Bytes("03 01 6A 00 54 00 01 1D 05 42 03 00 01 01"));
    CWBXMLEvent e;
    both.NextEvent(e);
    CWBXMLLiterals fields;
    EXPECT_TRUE(both.BuildTree(fields, e));
    ASSERT_EQ(fields.Size(), 3u);
    for (const auto& node : fields) {
        EXPECT_EQ(node->codePage, 1);
        EXPECT_EQ(node->value, "");
        EXPECT_FALSE(node->children);
    }
    EXPECT_EQ(fields[2].token, 0x02);
    // A failed append leaves the document as it was.
    CWBXML failing;
    failing.BeginDocument(64);
    failing.TEST_FailAppendAfter(1);
    EXPECT_FALSE(failing.WriteEmptyElement(1, 0x1D));
    EXPECT_EQ(Written(failing), "03 01 6A 00");
    EXPECT_EQ(failing.WriterCodePage(), 0);
}

TEST(WBXMLWriter, InvalidTagsWriteNothing) {
    CWBXML w;
    w.BeginDocument(64);
    EXPECT_FALSE(w.StartTag(0, 0x40));
    EXPECT_FALSE(w.StartTag(256, 1));
    EXPECT_FALSE(w.StartTag(-1, 1));
    EXPECT_FALSE(w.WriteElement(0, -1, "x"));
    EXPECT_FALSE(w.WriteIntElement(1, 64, 3));
    EXPECT_EQ(Written(w), "03 01 6A 00");
    EXPECT_TRUE(w.StartTag(255, 0x3F));
    EXPECT_EQ(Written(w), "03 01 6A 00 00 FF 7F");
}

TEST(WBXMLWriter, RetryAfterAnExceptionDoesNotDuplicateTheStartTag) {
    // Fail on each of the appends an element makes: switch, tag, 03, text, 00, end.
    for (int failing = 0; failing < 6; ++failing) {
        CWBXML w;
        w.BeginDocument(64);
        w.TEST_FailAppendAfter(failing);
        EXPECT_TRUE(w.WriteElement(1, 0x1B, "Ann")) << failing;
        EXPECT_EQ(Written(w), "03 01 6A 00 00 01 5B 03 41 6E 6E 00 01") << failing;
        EXPECT_EQ(w.WriterCodePage(), 1);
    }
}

TEST(WBXMLWriter, SecondFailureLeavesTheDocumentAsBefore) {
    CWBXML w;
    w.BeginDocument(64);
    w.WriteElement(0, 0x18, "k");
    // The first attempt fails at its tag byte, the retry at its first append.
    w.TEST_FailAppendAfter(1, 2);
    EXPECT_FALSE(w.WriteElement(1, 0x1B, "A"));
    EXPECT_EQ(Written(w), "03 01 6A 00 58 03 6B 00 01");
    EXPECT_EQ(w.WriterCodePage(), 0);
    // The next element still gets its page switch.
    EXPECT_TRUE(w.WriteElement(1, 0x1B, "A"));
    EXPECT_EQ(Written(w), "03 01 6A 00 58 03 6B 00 01 00 01 5B 03 41 00 01");
}
