// Request URL to path: decoding, separators, refusals, resolution inside a root.
#include "server/http/web_path.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "server/config/config_test_util.h"

namespace {

TEST(WebPath, PercentDecoding) {
    EXPECT_EQ(PercentDecode("a%20b%2Fc%2fd"), "a b/c/d");
    EXPECT_EQ(PercentDecode("100%"), "100%");
    EXPECT_EQ(PercentDecode("x%4"), "x%4");
    EXPECT_EQ(PercentDecode("%zz%%41"), "%zz%A");
    EXPECT_EQ(PercentDecode("%"), "%");
}

TEST(WebPath, CleanRequestPath) {
    EXPECT_EQ(CleanRequestPath("//docs\\\\a//b"), "/docs/a/b");
    EXPECT_EQ(CleanRequestPath("/%64ocs/x"), "/docs/x");
    EXPECT_FALSE(CleanRequestPath("/a/../b"));
    EXPECT_FALSE(CleanRequestPath("/%2e%2e/etc/passwd"));
    EXPECT_FALSE(CleanRequestPath("/..%2fetc"));
    EXPECT_FALSE(CleanRequestPath("/.%2e/x"));
    EXPECT_FALSE(CleanRequestPath("/file.txt%00.gif"));
    EXPECT_EQ(CleanRequestPath("/a.b/c"), "/a.b/c");
}

TEST(WebPath, ResolvesInsideFollowsLinks) {
    TempFolder folder;
    std::string root = folder.Path() + "/root";
    std::filesystem::create_directories(root + "/sub");
    WriteWholeFile(root + "/sub/f.txt", "x");
    WriteWholeFile(folder.Path() + "/secret.txt", "s");
    std::filesystem::create_symlink(folder.Path() + "/secret.txt", root + "/out");
    std::filesystem::create_symlink(root + "/sub/f.txt", root + "/in");
    EXPECT_TRUE(ResolvesInside(root + "/sub/f.txt", root));
    EXPECT_TRUE(ResolvesInside(root, root));
    EXPECT_TRUE(ResolvesInside(root + "/in", root));
    EXPECT_FALSE(ResolvesInside(root + "/out", root));
    EXPECT_FALSE(ResolvesInside(root + "/missing", root));
    EXPECT_FALSE(ResolvesInside(folder.Path() + "/rootx", root));
}

TEST(WebPath, HtmlEscape) { EXPECT_EQ(HtmlEscape("a<b>&\"c"), "a&lt;b&gt;&amp;&quot;c"); }

}  // namespace
