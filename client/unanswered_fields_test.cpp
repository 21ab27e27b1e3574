// The fields of unanswered Modifies: what is noted is what is read back, bad lines
// are passed over, and clearing removes the file.
#include "client/unanswered_fields.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "client/test_env.h"

namespace {

long OidOf(std::string_view clientId) {
    if (clientId.size() < 2 || clientId.substr(clientId.size() - 2) != "@S") return 0;
    return std::stol(std::string(clientId.substr(0, clientId.size() - 2)));
}
std::string ClientIdOf(long oid) { return std::to_string(oid) + "@S"; }

TEST(UnansweredFields, NotedFieldsAddUpAndReadBackUntilCleared) {
    TempEnv env;
    const std::string path = (env.Root() / "tasks.unanswered").string();
    UnansweredFields fields(path);
    fields.Note(7, {1, 10});
    fields.Note(7, {3});
    fields.Note(9, {});  // nothing sent: nothing noted
    fields.Note(12, {0});
    ASSERT_TRUE(fields.Save(ClientIdOf));
    EXPECT_EQ("7@S\t1,3,10\n12@S\t0\n", TempEnv::ReadFile(path));

    UnansweredFields read(path);
    read.Load(OidOf);
    ASSERT_NE(nullptr, read.Of(7));
    EXPECT_EQ((std::set<int>{1, 3, 10}), *read.Of(7));
    EXPECT_EQ((std::set<int>{0}), *read.Of(12));
    EXPECT_EQ(nullptr, read.Of(9));

    read.Clear();
    ASSERT_TRUE(read.Save(ClientIdOf));
    EXPECT_FALSE(std::filesystem::exists(path));
    UnansweredFields again(path);
    again.Load(OidOf);
    EXPECT_TRUE(again.Empty());
}

TEST(UnansweredFields, LinesOfOtherStoresAndBadTagsArePassedOver) {
    TempEnv env;
    const std::string path = (env.Root() / "contacts.unanswered").string();
    {
        std::ofstream out(path, std::ios::binary);
        out << "5@OTHER\t1,2\n"    // another store's item
            << "6@S\n"             // no tab
            << "8@S\tx,64,-1,\n"   // no readable tag
            << "9@S\t2,x,07,4\n";  // the readable ones stay
    }
    UnansweredFields fields(path);
    fields.Load(OidOf);
    EXPECT_EQ(nullptr, fields.Of(5));
    EXPECT_EQ(nullptr, fields.Of(6));
    EXPECT_EQ(nullptr, fields.Of(8));
    ASSERT_NE(nullptr, fields.Of(9));
    EXPECT_EQ((std::set<int>{2, 4}), *fields.Of(9));
}

}  // namespace
