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

TEST(WBXMLWriter, EmptyElementsStandForClearedFields) {
    CWBXML w;
    w.BeginDocument(64);
    // A field token above 4: the tag byte alone, content bit clear, after the switch.
    EXPECT_TRUE(w.WriteEmptyElement(3, 0x0A));
    EXPECT_EQ(Written(w), "03 01 6A 00 00 03 0A");
    EXPECT_TRUE(w.WriteEmptyElement(3, 0x3F));
    EXPECT_EQ(Written(w), "03 01 6A 00 00 03 0A 3F");
    // Tokens 0 to 4 would be control tokens without the bit: tag, empty string, end.
    EXPECT_TRUE(w.WriteEmptyElement(3, 0x01));
    EXPECT_TRUE(w.WriteEmptyElement(1, 0x02));
    EXPECT_EQ(Written(w), "03 01 6A 00 00 03 0A 3F 41 03 00 01 00 01 42 03 00 01");
    EXPECT_FALSE(w.WriteEmptyElement(1, 0x40));
    EXPECT_FALSE(w.WriteEmptyElement(256, 0x05));
    EXPECT_EQ(w.WriterCodePage(), 1);
}

TEST(WBXMLWriter, EmptyElementsReadBackAsEmptyFields) {
    CWBXML w;
    w.BeginDocument(64);
    w.StartTag(0, 0x14);
    w.WriteEmptyElement(3, 0x0A);
    w.WriteEmptyElement(3, 0x01);
    w.WriteElement(3, 0x02, "x");
    w.EndTag();
    CWBXML r;
    r.SetDocument(w.Document().View());
    CWBXMLEvent e;
    std::string events;
    for (bool more = true; more;) {
        more = r.NextEvent(e);
        if (e.EventKind == kWBXMLStartTag) events += "<" + std::to_string(e.token) + ">";
        if (e.EventKind == kWBXMLContent) events += "'" + e.value + "'";
        if (e.EventKind == kWBXMLEndTag) events += "</>";
    }
    EXPECT_EQ(events, "<20><10></><1>''</><2>'x'</></>");
}

TEST(WBXMLWriter, EmptyElementRetryAfterAnException) {
    for (int failing = 0; failing < 2; ++failing) {
        CWBXML w;
        w.BeginDocument(64);
        w.TEST_FailAppendAfter(failing);
        EXPECT_TRUE(w.WriteEmptyElement(2, 0x0A)) << failing;
        EXPECT_EQ(Written(w), "03 01 6A 00 00 02 0A") << failing;
    }
    CWBXML w;
    w.BeginDocument(64);
    w.TEST_FailAppendAfter(0, 2);
    EXPECT_FALSE(w.WriteEmptyElement(2, 0x0A));
    EXPECT_EQ(Written(w), "03 01 6A 00");
    EXPECT_EQ(w.WriterCodePage(), 0);
}
