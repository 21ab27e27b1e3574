#include "common/wbxml/tag_table.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <map>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

TEST(TagTable, EachPageHoldsItsRows) {
    std::map<int, int> rowsPerPage;
    for (size_t i = 0; i < VantroTagTableSize(); ++i) ++rowsPerPage[kVantroTagTable[i].codePage];
    EXPECT_EQ(rowsPerPage,
              (std::map<int, int>{{0, 43}, {1, 51}, {2, 17}, {3, 15}, {6, 21}, {7, 62}}));
    EXPECT_EQ(kVantroTagTable[VantroTagTableSize()].name, nullptr);
}

namespace {

struct NamedPair {
    int32_t page;
    int32_t token;
    const char* name;
};

// Each pair's name as lookup gives it.
void ExpectNames(std::string_view (*lookup)(int32_t, int32_t),
                 std::initializer_list<NamedPair> pairs) {
    for (const NamedPair& pair : pairs)
        EXPECT_EQ(lookup(pair.page, pair.token), pair.name) << pair.page << " " << pair.token;
}

}  // namespace

TEST(TagTable, NamesHitsAcrossPages) {
    ExpectNames(TagName, {{0, 0x29, "Reset"},
                          {0, 0x20, "ReadFlag"},
                          {0, 0x01, "Sync"},
                          {0, 0x2A, "Acknlowledge"},
                          {0, 0x3D, "Matched"},
                          {0, 0x3E, "unknown 0 3e"},
                          {1, 0x00, "ClientID"},
                          {1, 0x35, "YomiCompanyName"},
                          {2, 0x0B, "PocketAppointment_Recipients"},
                          {3, 0x0E, "TaskReminderOptions"},
                          {6, 0x14, "SerieEndDate"},
                          {7, 0x3E, "PR_FLAG_COMPLETE_TIME"}});
}

TEST(TagTable, TwoEmailNamesEndInASpace) {
    ExpectNames(TagName, {{7, 0x0E, "PR_MESSAGE_CLASS "}, {7, 0x17, "PR_SUBJECT "}});
    ExpectNames(ElementName, {{7, 0x17, "SUBJECT "}});
}

TEST(TagTable, MissesUseHexadecimalText) {
    ExpectNames(TagName, {{1, 0x31, "unknown 1 31"},
                          {1, 0x33, "unknown 1 33"},
                          {7, 0x23, "unknown 7 23"},
                          {4, 0x00, "unknown 4 0"},
                          {0, 0x00, "unknown 0 0"},
                          {255, 0x3F, "unknown ff 3f"},
                          {-1, 70, "unknown ffffffff 46"}});
    // Misses of byte pages stay valid after other misses.
    std::string_view first = TagName(5, 1);
    TagName(5, 2);
    EXPECT_EQ(first, "unknown 5 1");
    ExpectNames(ElementName, {{1, 0x32, "unknown 1 32"}});
}

TEST(TagTable, ElementNameIsCutAfterTheFirstUnderscore) {
    ExpectNames(ElementName, {{7, 0x00, "BODY"},
                              {7, 0x05, "Recipients"},
                              {2, 0x0B, "Recipients"},
                              {7, 0x2E, "ORIGINAL_SENT_REPRESENTING_NAME"},
                              {0, 0x15, "Folder"}});
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
