// The 401 answer and the directory page, byte for byte.
#include "server/http/web_answers.h"

#include <gtest/gtest.h>

#include <utility>

#include "server/http/content_types.h"

namespace {

TEST(WebAnswers, UnauthorizedAnswer) {
    const std::string page =
        "<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 4.01 Transitional//EN\">\n"
        "<HTML>\n"
        "<HEAD>\n"
        "<TITLE>Error</TITLE>\n"
        "<META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=ISO-8859-1\">\n"
        "</HEAD>\n"
        "<BODY><H1>401 Unauthorised.</H1></BODY>\n"
        "</HTML>\n";
    EXPECT_EQ(UnauthorizedAnswer("Docs \"x\"\r\n"),
              "HTTP/1.0 401 Authorization Required\n"
              "Server: HTTPd/1.0\n"
              "Date: Sat, 27 Nov 2004 10:18:15 GMT\n"
              "WWW-Authenticate: Basic realm=\"Docs x\"\n"
              "Content-Type: text/html\n"
              "Content-Length: 228\n"
              "\n" +
                  page);
    EXPECT_EQ(page.size(), 228u);
}

TEST(WebAnswers, DirectoryPage) {
    std::vector<CDirectoryEntry> entries = {{".", true, 4096},
                                            {"sub", true, 4096},
                                            {"a<b>.txt", false, 5},
                                            {"big", false, 0x100000005ull}};
    EXPECT_EQ(DirectoryPageBody("/srv/www/docs", "/docs/", entries),
              "<html>\n"
              "\n"
              "<head>\n"
              "<meta http-equiv=\"Content-Language\" content=\"de\">\n"
              "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=windows-1252\">\n"
              "<title>/srv/www/docs</title>\n"
              "</head>\n"
              "\n"
              "<body>\n"
              "\n"
              "<table border=\"0\" cellpadding=\"0\" cellspacing=\"0\" style=\"border-collapse: "
              "collapse\" bordercolor=\"#111111\" width=\"100%\">\n"
              "  <tr>\n"
              "    <td width=\"70%\">[<a href=\"/docs/.\">.</a>]</td>\n"
              "    <td width=\"30%\">4096</td>\n"
              "  </tr>\n"
              "  <tr>\n"
              "    <td width=\"70%\">[<a href=\"/docs/sub\">sub</a>]</td>\n"
              "    <td width=\"30%\">4096</td>\n"
              "  </tr>\n"
              "  <tr>\n"
              "    <td width=\"70%\"><a href=\"/docs/a&lt;b&gt;.txt\">a&lt;b&gt;.txt</a></td>\n"
              "    <td width=\"30%\">5</td>\n"
              "  </tr>\n"
              "  <tr>\n"
              "    <td width=\"70%\"><a href=\"/docs/big\">big</a></td>\n"
              "    <td width=\"30%\">5</td>\n"
              "  </tr>\n");
}

TEST(ContentTypes, TableOrderAndDefault) {
    const std::pair<const char*, const char*> cases[] = {
        {"/pic.gif", "image/gif"},
        {"/pic.GIF", "application/octet-stream"},
        {"/a.jpeg", "image/jpeg"},
        {"/archive.tar.gz", "image/gz"},
        {"/index.html", "text/html"},
        {"/xhtm", "text/html"},  // no dot needed
        {"/notes.txt", "application/octet-stream"},
        {"", "application/octet-stream"},
    };
    for (auto [url, type] : cases) EXPECT_EQ(ContentTypeForUrl(url), type) << url;
}

}  // namespace
