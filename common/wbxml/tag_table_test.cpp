#include "common/wbxml/tag_table.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <thread>
#include <vector>

TEST(TagTable, EachPageHoldsItsRows) {
    std::map<int, int> rowsPerPage;
    for (size_t i = 0; i < VantroTagTableSize(); ++i) ++rowsPerPage[kVantroTagTable[i].codePage];
    EXPECT_EQ(rowsPerPage,
              (std::map<int, int>{{0, 43}, {1, 51}, {2, 17}, {3, 15}, {6, 21}, {7, 62}}));
    EXPECT_EQ(kVantroTagTable[VantroTagTableSize()].name, nullptr);
}

TEST(TagTable, NamesHitsAcrossPages) {
    EXPECT_EQ(TagName(0, 0x29), "Reset");
    EXPECT_EQ(TagName(0, 0x20), "ReadFlag");
    EXPECT_EQ(TagName(0, 0x01), "Sync");
    EXPECT_EQ(TagName(0, 0x2A), "Acknlowledge");
    EXPECT_EQ(TagName(0, 0x3D), "Matched");
    EXPECT_EQ(TagName(0, 0x3E), "unknown 0 3e");
    EXPECT_EQ(TagName(1, 0x00), "ClientID");
    EXPECT_EQ(TagName(1, 0x35), "YomiCompanyName");
    EXPECT_EQ(TagName(2, 0x0B), "PocketAppointment_Recipients");
    EXPECT_EQ(TagName(3, 0x0E), "TaskReminderOptions");
    EXPECT_EQ(TagName(6, 0x14), "SerieEndDate");
    EXPECT_EQ(TagName(7, 0x3E), "PR_FLAG_COMPLETE_TIME");
}

TEST(TagTable, TwoEmailNamesEndInASpace) {
    EXPECT_EQ(TagName(7, 0x0E), "PR_MESSAGE_CLASS ");
    EXPECT_EQ(TagName(7, 0x17), "PR_SUBJECT ");
    EXPECT_EQ(ElementName(7, 0x17), "SUBJECT ");
}

TEST(TagTable, MissesUseHexadecimalText) {
    EXPECT_EQ(TagName(1, 0x31), "unknown 1 31");
    EXPECT_EQ(TagName(1, 0x33), "unknown 1 33");
    EXPECT_EQ(TagName(7, 0x23), "unknown 7 23");
    EXPECT_EQ(TagName(4, 0x00), "unknown 4 0");
    EXPECT_EQ(TagName(0, 0x00), "unknown 0 0");
    EXPECT_EQ(TagName(255, 0x3F), "unknown ff 3f");
    EXPECT_EQ(TagName(-1, 70), "unknown ffffffff 46");
    // Misses of byte pages stay valid after other misses.
    std::string_view first = TagName(5, 1);
    TagName(5, 2);
    EXPECT_EQ(first, "unknown 5 1");
    EXPECT_EQ(ElementName(1, 0x32), "unknown 1 32");
}

TEST(TagTable, ElementNameIsCutAfterTheFirstUnderscore) {
    EXPECT_EQ(ElementName(7, 0x00), "BODY");
    EXPECT_EQ(ElementName(7, 0x05), "Recipients");
    EXPECT_EQ(ElementName(2, 0x0B), "Recipients");
    EXPECT_EQ(ElementName(7, 0x2E), "ORIGINAL_SENT_REPRESENTING_NAME");
    EXPECT_EQ(ElementName(0, 0x15), "Folder");
}

TEST(TagTable, FirstMatchingRowWins) {
    const WBXMLTag rows[] = {{0, 1, "First"}, {0, 2, "Other"}, {0, 1, "Later"}, {0, 0, nullptr}};
    ASSERT_NE(FindTagRow(rows, 0, 1), nullptr);
    EXPECT_STREQ(FindTagRow(rows, 0, 1)->name, "First");
    EXPECT_EQ(FindTagRow(rows, 1, 1), nullptr);
    // The indexed lookup agrees with a search from the start for every pair.
    for (int page = 0; page < 9; ++page)
        for (int token = 0; token < 64; ++token) {
            const WBXMLTag* row = FindTagRow(kVantroTagTable, page, token);
            if (row != nullptr)
                EXPECT_EQ(TagName(page, token), row->name) << page << " " << token;
            else
                EXPECT_EQ(TagName(page, token).substr(0, 8), "unknown ") << page << " " << token;
        }
}

TEST(TagTable, MissTextsFromSeveralThreadsAgree) {
    // Every thread asks for the same unassigned pairs; each pair keeps one text.
    std::vector<std::vector<const char*>> seen(4);
    std::vector<std::thread> threads;
    for (size_t t = 0; t < seen.size(); ++t)
        threads.emplace_back([&seen, t] {
            for (int page = 8; page < 40; ++page)
                for (int token = 0; token < 64; ++token)
                    seen[t].push_back(ElementName(page, token).data());
        });
    for (auto& thread : threads) thread.join();
    for (size_t t = 1; t < seen.size(); ++t) EXPECT_EQ(seen[t], seen[0]);
    EXPECT_EQ(TagName(9, 0x2A), "unknown 9 2a");
}
