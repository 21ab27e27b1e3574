// Code tables: the first entry of a code gives its text; a code without one none.
#include "common/base/code_text.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace {

constexpr CodeTextEntry<std::uint32_t> kColours[] = {
    {1, "red"},
    {2, "green"},
    {2, "lime"},  // a second name of 2: never the one given
    {0, "black"},
};

TEST(CodeTextEntry, TheFirstEntryOfACodeGivesItsText) {
    EXPECT_STREQ(TextOfCode(kColours, std::uint32_t{1}), "red");
    EXPECT_STREQ(TextOfCode(kColours, std::uint32_t{2}), "green");
    EXPECT_STREQ(TextOfCode(kColours, std::uint32_t{0}), "black");
    EXPECT_EQ(TextOfCode(kColours, std::uint32_t{3}), nullptr);
    EXPECT_EQ(TextOfCode(kColours, std::uint32_t{0xFFFFFFFF}), nullptr);
}

TEST(CodeTextEntry, SignedCodesAreComparedWhole) {
    constexpr CodeTextEntry<std::int32_t> results[] = {{-2147467259, "failure"}, {1, "false"}};
    EXPECT_STREQ(TextOfCode(results, std::int32_t{-2147467259}), "failure");
    EXPECT_EQ(TextOfCode(results, std::int32_t{-1}), nullptr);
    static_assert(TextOfCode(results, std::int32_t{1})[0] == 'f');
}

}  // namespace
