#include "server/config/help_texts.h"

#include <gtest/gtest.h>

#include "server/config/config_test_util.h"
#include "server/config/settings.h"

namespace {

TEST(HelpTexts, EntryIsWrittenAsThreeLinesAndReadsBackWithItsLineEnd) {
    TempFolder temp;
    std::string path = temp.Path() + "/help.inf";
    CHelpTexts texts;
    texts.Set("K", "abc");
    texts.Set("151:1012", "two\nlines");
    std::string error;
    ASSERT_TRUE(texts.Save(path, error)) << error;
    EXPECT_EQ(ReadWholeFile(path), "<151:1012>\ntwo\nlines\n</151:1012>\n<K>\nabc\n</K>\n");
    EXPECT_EQ(ModeOf(path), 0600u);
    CHelpTexts read;
    read.Load(path);
    EXPECT_EQ(read.Get("K"), "abc\n");
    EXPECT_EQ(read.Get("151:1012"), "two\nlines\n");
    EXPECT_EQ(read.Get("missing"), "");
    // Saving what was read gives the same file: texts do not grow.
    ASSERT_TRUE(read.Save(path, error));
    EXPECT_EQ(ReadWholeFile(path), "<151:1012>\ntwo\nlines\n</151:1012>\n<K>\nabc\n</K>\n");
}

TEST(HelpTexts, ReadingRules) {
    TempFolder temp;
    std::string path = temp.Path() + "/help.inf";
    // Text before an opening tag joins the entry that closes next; the rest of a
    // tag line is dropped; any line that begins with "<" opens an entry (so a
    // stray closing tag replaces the open one); an entry never closed is lost;
    // the last line needs no line end.
    WriteWholeFile(path,
                   "stray\n<A>junk\nline</A>\n</B>\n</A>\n"
                   "<C>\r\nwin\r\n</C>\r\n"
                   "<D>\nopen\n<E>\nlast\n</E>");
    CHelpTexts texts;
    texts.Load(path);
    EXPECT_EQ(texts.Serialize(),
              "<C>\nstray\nline</A>\nwin\r\n</C>\n"
              "<E>\nopen\nlast\n</E>\n");
}

TEST(HelpTexts, MissingFileGivesAnEmptyMapAndSettingsUsesTheGivenPath) {
    TempFolder temp;
    Settings settings;
    settings.LoadSettings(temp.Path() + "/data");
    settings.SetHelpFilePath(temp.Path() + "/help.inf");
    settings.LoadHelpTexts();
    EXPECT_EQ(settings.GetHelpText("K"), "");
    settings.SetHelpText("K", "text");
    ASSERT_TRUE(settings.SaveHelpTexts());
    EXPECT_EQ(ReadWholeFile(temp.Path() + "/help.inf"), "<K>\ntext\n</K>\n");
}

}  // namespace
