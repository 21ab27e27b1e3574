#include "common/base/escape.h"

#include <gtest/gtest.h>

namespace {

TEST(Escape, JsonQuoteEscapesQuotesBackslashesAndControls) {
    EXPECT_EQ(JsonQuote(""), "\"\"");
    EXPECT_EQ(JsonQuote("a\"b\\c"), "\"a\\\"b\\\\c\"");
    EXPECT_EQ(JsonQuote("1\n2\r3\t4"), "\"1\\n2\\r3\\t4\"");
    EXPECT_EQ(JsonQuote(std::string_view("\x00\x01\x1f\x7f", 4)), "\"\\u0000\\u0001\\u001f\x7f\"");
    // Bytes above ASCII pass as they are: the caller hands UTF-8.
    EXPECT_EQ(JsonQuote("\xc3\xa4/"), "\"\xc3\xa4/\"");
}

TEST(Escape, JsonQuoteCanWriteLineBreaksAsNumbers) {
    EXPECT_EQ(JsonQuote("1\n2\r3\t4\x1b", JsonLineBreaks::kNumeric),
              "\"1\\u000a2\\u000d3\\u00094\\u001b\"");
    EXPECT_EQ(JsonQuote("\"\\", JsonLineBreaks::kNumeric), "\"\\\"\\\\\"");
}

TEST(Escape, BackslashEscapeKeepsAValueOnOneLine) {
    EXPECT_EQ(BackslashEscape("a\\b\nc\rd\te=f"), "a\\\\b\\nc\\rd\te=f");
    EXPECT_EQ(BackslashEscape("a\tb", "\t"), "a\\tb");
    EXPECT_EQ(BackslashEscape("k=v\\", "="), "k\\=v\\\\");
    EXPECT_EQ(BackslashEscape(""), "");
}

}  // namespace
