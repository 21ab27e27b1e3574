// The sorted vector map behaves as the std::map it stands in for.
#include "server/syncstate/sorted_vector_map.h"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <stdexcept>
#include <string>

namespace {

using Map = CSortedVectorMap<int, std::string>;

std::string Render(const Map& map) {
    std::string out;
    for (const auto& [key, value] : map) out += std::to_string(key) + "=" + value + ";";
    return out;
}

TEST(SortedVectorMap, LookupsInsertionsAndErasuresAsAStdMap) {
    Map map = {{3, "c"}, {1, "a"}, {3, "second c"}};  // a key named twice: the first counts
    EXPECT_EQ(Render(map), "1=a;3=c;");
    map[2] = "b";
    map[3] += "!";
    EXPECT_EQ(Render(map), "1=a;2=b;3=c!;");
    EXPECT_EQ(map.count(2), 1u);
    EXPECT_EQ(map.count(4), 0u);
    EXPECT_EQ(map.find(4), map.end());
    EXPECT_EQ(map.at(1), "a");
    EXPECT_THROW(map.at(9), std::out_of_range);
    EXPECT_FALSE(map.emplace(1, "x").second);
    EXPECT_EQ(map.erase(2), 1u);
    EXPECT_EQ(map.erase(2), 0u);
    auto next = map.erase(map.find(1));
    ASSERT_NE(next, map.end());
    EXPECT_EQ(next->first, 3);
    EXPECT_EQ(Render(map), "3=c!;");
    // Set at the end (appended in order) or anywhere else (placed in order).
    map.insert_or_assign(map.end(), 5, "e");
    map.insert_or_assign(map.end(), 4, "d");
    map.insert_or_assign(map.end(), 5, "E");
    map.insert_or_assign(0, "z");
    EXPECT_EQ(Render(map), "0=z;3=c!;4=d;5=E;");
    EXPECT_EQ(map, (Map{{0, "z"}, {3, "c!"}, {4, "d"}, {5, "E"}}));
    EXPECT_NE(map, (Map{{0, "z"}}));
    map.clear();
    EXPECT_TRUE(map.empty());
}

TEST(SortedVectorMap, ARandomRunMatchesAStdMap) {
    std::mt19937 random(7);
    Map map;
    std::map<int, std::string> expected;
    for (int step = 0; step < 2000; ++step) {
        const int key = static_cast<int>(random() % 50);
        const std::string value = std::to_string(step);
        switch (random() % 4) {
            case 0:
                map[key] = value;
                expected[key] = value;
                break;
            case 1:
                map.insert_or_assign(map.end(), key, value);
                expected.insert_or_assign(key, value);
                break;
            case 2:
                EXPECT_EQ(map.erase(key), expected.erase(key));
                break;
            default:
                EXPECT_EQ(map.emplace(key, value).second, expected.emplace(key, value).second);
                break;
        }
    }
    ASSERT_EQ(map.size(), expected.size());
    auto want = expected.begin();
    for (const auto& [key, value] : map) {
        EXPECT_EQ(key, want->first);
        EXPECT_EQ(value, want->second);
        ++want;
    }
}

}  // namespace
