// Request URL to path: decoding, separators, refusals, resolution inside a root.
#include "server/http/web_path.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "server/config/config_test_util.h"

namespace {

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

TEST(WebPath, NormalizePathRemovesDotSegmentsAndRunsOfSeparators) {
    EXPECT_EQ(NormalizePath("/./docs/secret.txt"), "/docs/secret.txt");
    EXPECT_EQ(NormalizePath("/.//docs/secret.txt"), "/docs/secret.txt");
    EXPECT_EQ(NormalizePath("\\.\\docs\\x"), "/docs/x");
    EXPECT_EQ(NormalizePath("/./docs/"), "/docs/");
    EXPECT_EQ(NormalizePath("/docs/."), "/docs/");
    EXPECT_EQ(NormalizePath("/docs/./././x/./"), "/docs/x/");
    EXPECT_EQ(NormalizePath("/"), "/");
    EXPECT_EQ(NormalizePath("/."), "/");
    EXPECT_EQ(NormalizePath("///"), "/");
    EXPECT_EQ(NormalizePath(""), "");
    EXPECT_EQ(NormalizePath("."), "");
    EXPECT_EQ(NormalizePath("./vantro"), "vantro");
    EXPECT_EQ(NormalizePath("vantro"), "vantro");
    // Names that only hold dots are names, not dot segments.
    EXPECT_EQ(NormalizePath("/.x/a./.../b"), "/.x/a./.../b");
    EXPECT_EQ(NormalizePath("/a/../b"), "/a/../b");
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
    EXPECT_TRUE(IsNormalRequestPath("/OutlookAttachments/-4/0011AA.EML/a%20b.txt"));
    EXPECT_TRUE(IsNormalRequestPath("/OutlookAttachments/-4/0011AA.EML/a%2Fb.txt"));
    EXPECT_FALSE(IsNormalRequestPath("/./OutlookAttachments/-4/0011AA.EML/a.txt"));
    EXPECT_FALSE(IsNormalRequestPath("/OutlookAttachments/%2e/-4/0011AA.EML/a.txt"));
    EXPECT_FALSE(IsNormalRequestPath("/OutlookAttachments//-4/0011AA.EML/a.txt"));
    EXPECT_FALSE(IsNormalRequestPath("/OutlookAttachments/-4\\0011AA.EML/a.txt"));
    EXPECT_FALSE(IsNormalRequestPath("/OutlookAttachments/-4/0011AA.EML/a%5Cb.txt"));
    EXPECT_FALSE(IsNormalRequestPath("/OutlookAttachments/../docs/x"));
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
