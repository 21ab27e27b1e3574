// Request URL to path: decoding, separators, refusals, resolution inside a root.
#include "server/http/web_path.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <utility>

#include "server/config/config_test_util.h"

namespace {

TEST(WebPath, CleanRequestPath) {
    const std::pair<const char*, const char*> cleaned[] = {
        {"//docs\\\\a//b", "/docs/a/b"}, {"/%64ocs/x", "/docs/x"}, {"/a.b/c", "/a.b/c"}};
    for (auto [url, path] : cleaned) EXPECT_EQ(CleanRequestPath(url), path) << url;
    for (const char* url :
         {"/a/../b", "/%2e%2e/etc/passwd", "/..%2fetc", "/.%2e/x", "/file.txt%00.gif"})
        EXPECT_FALSE(CleanRequestPath(url)) << url;
}

TEST(WebPath, NormalizePathRemovesDotSegmentsAndRunsOfSeparators) {
    const std::pair<const char*, const char*> cases[] = {
        {"/./docs/secret.txt", "/docs/secret.txt"},
        {"/.//docs/secret.txt", "/docs/secret.txt"},
        {"\\.\\docs\\x", "/docs/x"},
        {"/./docs/", "/docs/"},
        {"/docs/.", "/docs/"},
        {"/docs/./././x/./", "/docs/x/"},
        {"/", "/"},
        {"/.", "/"},
        {"///", "/"},
        {"", ""},
        {".", ""},
        {"./vantro", "vantro"},
        {"vantro", "vantro"},
        // Names that only hold dots are names, not dot segments.
        {"/.x/a./.../b", "/.x/a./.../b"},
        {"/a/../b", "/a/../b"},
    };
    for (auto [path, normal] : cases) EXPECT_EQ(NormalizePath(path), normal) << path;
}

TEST(WebPath, EverySpellingOfAProtectedPathCleansToTheSamePath) {
    for (const char* url :
         {"/docs/secret.txt", "/./docs/secret.txt", "/%2e/docs/secret.txt", "/%2E/docs/secret.txt",
          "/.//docs/secret.txt", "//docs//secret.txt", "\\docs\\secret.txt", "/docs/./secret.txt",
          "/%2e%2fdocs%5csecret.txt", "/./%2e/./docs/secret.txt"}) {
        EXPECT_EQ(CleanRequestPath(url), "/docs/secret.txt") << url;
    }
    EXPECT_EQ(CleanRequestPath("/./docs/"), "/docs/");
    // Decoded once: an encoded "%" stays a "%".
    EXPECT_EQ(CleanRequestPath("/%252e/docs"), "/%2e/docs");
}

TEST(WebPath, NormalRequestPathsAreThoseThatNeedNoCleaning) {
    for (const char* url : {"/OutlookAttachments/-4/0011AA.EML/a%20b.txt",
                            "/OutlookAttachments/-4/0011AA.EML/a%2Fb.txt"})
        EXPECT_TRUE(IsNormalRequestPath(url)) << url;
    for (const char* url :
         {"/./OutlookAttachments/-4/0011AA.EML/a.txt",
          "/OutlookAttachments/%2e/-4/0011AA.EML/a.txt", "/OutlookAttachments//-4/0011AA.EML/a.txt",
          "/OutlookAttachments/-4\\0011AA.EML/a.txt", "/OutlookAttachments/-4/0011AA.EML/a%5Cb.txt",
          "/OutlookAttachments/../docs/x"})
        EXPECT_FALSE(IsNormalRequestPath(url)) << url;
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
