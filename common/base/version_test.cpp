#include "common/base/version.h"

#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <sstream>

namespace {

// The version the program reports is the one CMakeLists.txt declares.
TEST(Version, IsTheProjectVersionOfTheBuild) {
    const char* source = std::getenv("CORVEL_SOURCE_DIR");
    ASSERT_NE(source, nullptr);
    std::ifstream in(std::string(source) + "/CMakeLists.txt");
    std::stringstream text;
    text << in.rdbuf();
    std::smatch match;
    std::string content = text.str();
    ASSERT_TRUE(
        std::regex_search(content, match, std::regex(R"(project\(Corvel VERSION ([0-9.]+))")));
    EXPECT_EQ(ProductVersion(), match[1].str());
    EXPECT_EQ(VersionText(), "Corvel Version " + match[1].str());
}

}  // namespace
