#include "server/itemconv/html_to_text.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <string_view>

#include "server/itemconv/html_entities.h"

TEST(HtmlToText, BodyTagFoundInAnyCaseAndWithAttributes) {
    EXPECT_EQ("Hallo\r\nWelt ", HtmlToText("<HTML><BODY>Hallo<BR>Welt </BODY></HTML>"));
    EXPECT_EQ("Hallo", HtmlToText("<html><body lang=DE>Hallo</body></html>"));
    EXPECT_EQ("x", HtmlToText("<html><body\n class=\"a>b\">x</body>"));  // quoted ">"
    EXPECT_EQ("b>x", HtmlToText("<html><body class=\"a>b>x"));           // unbalanced quote
    // "<bodyx>" is not a body tag: without one the whole text is read.
    EXPECT_EQ("a b", HtmlToText("<html><bodyx>a</bodyx> b"));
    EXPECT_EQ("plain text", HtmlToText("plain text"));
}

TEST(HtmlToText, HeadOfADocumentWithBodyIsSkipped) {
    EXPECT_EQ("T", HtmlToText("<html><head><title>Head</title></head><body>T</body></html>"));
    // A fragment's title is no text either.
    EXPECT_EQ("T", HtmlToText("<title>Head</title>T"));
}

TEST(HtmlToText, WhiteSpaceFolds) {
    EXPECT_EQ("a b c", HtmlToText("<body>a  \r\n b\n\n\nc"));
    EXPECT_EQ("a \t b", HtmlToText("<body>a \t b"));  // TAB is copied, blanks around it fold
    // White space at the start of a line and a blank before a line end are dropped.
    EXPECT_EQ("a", HtmlToText("<body>\r\n a"));
    EXPECT_EQ("a\r\nb", HtmlToText("<body>a <br> b"));
}

TEST(HtmlToText, BreaksAndParagraphs) {
    EXPECT_EQ("1\r\n2\r\n3\r\n4\r\n5", HtmlToText("<body>1<br>2<br/>3<BR />4<br class=x>5"));
    EXPECT_EQ("One\r\nTwo\r\n", HtmlToText("<body><p>One</p><P class=q>Two</P >"));
    EXPECT_EQ("ab", HtmlToText("<body>a<brx>b"));
    // Every br ends a line, also an empty one; a block ends only a line with text.
    EXPECT_EQ("a\r\n\r\nb", HtmlToText("<body>a<br><br>b"));
    EXPECT_EQ("a\r\nb\r\n", HtmlToText("<body><div><div>a</div></div><p></p><div>b</div>"));
    EXPECT_EQ("Title\r\nText", HtmlToText("<body><h1>Title</h1>Text"));
}

TEST(HtmlToText, ListsTablesQuotesAndPre) {
    EXPECT_EQ("- one\r\n- two\r\n- three\r\n",
              HtmlToText("<ul><li>one</li><li>two<li> three </li></ul>"));
    EXPECT_EQ("- a\r\n  - a1\r\n  - a2\r\n- b\r\n",
              HtmlToText("<ol><li>a<ul><li>a1</li><li>a2</li></ul></li><li>b</li></ol>"));
    EXPECT_EQ("a\tb\tc\r\n1\t\t3\r\n",
              HtmlToText("<table><tr><th>a</th><th> b </th><th>c</th></tr>"
                         "<tr><td>1</td><td></td><td>3</td></tr></table>"));
    EXPECT_EQ("said:\r\n> one\r\n> > two\r\n>\r\n> three\r\nend",
              HtmlToText("said:<blockquote>one<blockquote>two</blockquote><br>three"
                         "</blockquote>end"));
    EXPECT_EQ("x\r\n  if (a)\r\n\tb();\r\ny", HtmlToText("x<pre>\n  if (a)\r\n\tb();\n</pre>y"));
}

TEST(HtmlToText, StyleScriptAndCommentsAreDropped) {
    EXPECT_EQ("ab", HtmlToText("<body>a<style type=text/css>p { x: 1 }</style>b"));
    EXPECT_EQ("ab", HtmlToText("<body>a<SCRIPT>if (a<b) x();</Script >b"));
    EXPECT_EQ("ab", HtmlToText("<body>a<!-- <br> x > y -->b"));
    EXPECT_EQ("a", HtmlToText("<body>a<script>never closed"));
    EXPECT_EQ("a", HtmlToText("<body>a<b"));  // input ends inside a tag
}

TEST(HtmlToText, NamedEntities) {
    EXPECT_EQ("<a & \"b\" 'c'>", HtmlToText("<body>&lt;a &amp; &quot;b&quot; &apos;c&apos;&GT;"));
    // nbsp counts as white space, so the blanks after it are swallowed.
    EXPECT_EQ("a b", HtmlToText("<body>a&nbsp;  b"));
    EXPECT_EQ("a & b", HtmlToText("<body>a &amp; b"));
    EXPECT_EQ(
        "Gr\xC3\xBC\xC3\x9F"
        "e \xE2\x82\xAC \xC3\x89\xC3\xA9 \xCE\xA9 \xE2\x80\x94",
        HtmlToText("<body>Gr&uuml;&szlig;e &euro; &Eacute;&eacute; &Omega; &mdash;"));
    // Another case is taken only where it names one character.
    EXPECT_EQ("& &EACUTE; &x;", HtmlToText("<body>&AMP; &EACUTE; &x;"));
    EXPECT_EQ(253U, HtmlEntityCount());  // HTML 4's 252 and apos
    for (const char* name : {"thetasym", "alefsym", "there4", "diams", "rsaquo", "yuml", "Yuml"}) {
        EXPECT_TRUE(HtmlEntityCodePoint(name).has_value()) << name;
    }
    EXPECT_EQ(376U, *HtmlEntityCodePoint("Yuml"));
    EXPECT_EQ(255U, *HtmlEntityCodePoint("yuml"));
}

TEST(HtmlToText, AmpersandWithoutEntityStays) {
    EXPECT_EQ("Q&A tomorrow", HtmlToText("<body>Q&A tomorrow"));
    EXPECT_EQ("a & b; c", HtmlToText("<body>a & b; c"));
    EXPECT_EQ("x&", HtmlToText("<body>x&"));
    EXPECT_EQ("&;", HtmlToText("<body>&;"));
    std::string name32(32, 'a');
    std::string name33(33, 'a');
    EXPECT_EQ("&" + name32 + ";", HtmlToText("<body>&" + name32 + ";"));  // unknown entity
    EXPECT_EQ("&" + name33 + ";", HtmlToText("<body>&" + name33 + ";"));  // too long: not one
    EXPECT_EQ("&&amp", HtmlToText("<body>&&amp"));
}

TEST(HtmlToText, NumericReferences) {
    EXPECT_EQ("\xC3\xA9", HtmlToText("<body>&#233;"));
    EXPECT_EQ("\xC4\xAC", HtmlToText("<body>&#300;"));
    EXPECT_EQ("AA", HtmlToText("<body>&#x41;&#X41;"));
    EXPECT_EQ("\xE2\x82\xAC|\xF0\x9F\x98\x80", HtmlToText("<body>&#x20AC;|&#128512;"));
    // 128-159 are the characters of those Windows-1252 bytes: ’ “ ” – €.
    EXPECT_EQ("\xE2\x80\x99\xE2\x80\x9C\xE2\x80\x9D\xE2\x80\x93\xE2\x82\xAC",
              HtmlToText("<body>&#146;&#147;&#148;&#150;&#x80;"));
    // Nothing that would end or corrupt the text: 0, the page's unassigned bytes,
    // control characters, surrogates, beyond U+10FFFF.
    EXPECT_EQ("ab", HtmlToText("<body>a&#0;&#x0;&#129;&#157;&#1;&#127;&#xD800;&#1114112;b"));
    EXPECT_EQ("a b", HtmlToText("<body>a&#10;&#32; b"));            // white space folds like blanks
    EXPECT_EQ("&#12a;&#;&#x;", HtmlToText("<body>&#12a;&#;&#x;"));  // not numbers: kept
    EXPECT_EQ("", HtmlToText("<body>&#99999999999999999999;"));
}

TEST(HtmlToText, EightBitTextStaysEightBit) {
    // A Windows-1252 body: its references become bytes of that page, so that the
    // text can be converted once, as a whole.
    std::string body =
        "<body>Gr\xFC\xDF"
        "e &#252;ber &#8364; &uuml; &#8211; &#1046;";
    EXPECT_EQ(TextEncoding::kWindows1252, TextEncodingOf(body));
    EXPECT_EQ(
        "Gr\xFC\xDF"
        "e \xFC"
        "ber \x80 \xFC \x96 ?",
        HtmlToText(body));
    EXPECT_EQ(
        "Gr\xC3\xBC\xC3\x9F"
        "e \xC3\xBC"
        "ber \xE2\x82\xAC \xC3\xBC \xE2\x80\x93 ?",
        HtmlBodyToUtf8(body));
    // The same text in UTF-8 keeps the character the 8-bit page lacks.
    std::string utf8 =
        "<body>Gr\xC3\xBC\xC3\x9F"
        "e &#252;ber &#8364; &#1046;";
    EXPECT_EQ(TextEncoding::kUtf8, TextEncodingOf(utf8));
    EXPECT_EQ(
        "Gr\xC3\xBC\xC3\x9F"
        "e \xC3\xBC"
        "ber \xE2\x82\xAC \xD0\x96",
        HtmlBodyToUtf8(utf8));
    EXPECT_EQ(HtmlToText(utf8), HtmlBodyToUtf8(utf8));
}

TEST(HtmlToText, EndsAtNulAndKeepsOtherBytes) {
    std::string in = std::string("<body>a\xE9", 8) + std::string(1, '\0') + "b";
    EXPECT_EQ("a\xE9", HtmlToText(in));
    EXPECT_EQ("", HtmlToText(""));
    EXPECT_EQ("", HtmlToText(static_cast<const char*>(nullptr)));
    EXPECT_EQ("", HtmlToText("<body>"));
}

// Bodies shaped like the mail people receive, compared byte for byte.
TEST(HtmlToText, GeneratedNewsletter) {
    const char* html =
        "<!DOCTYPE html PUBLIC \"-//W3C//DTD XHTML 1.0 Transitional//EN\">\r\n"
        "<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\">\r\n"
        "<title>Spring news</title><style type=\"text/css\">body{margin:0} .h{font:bold}"
        "</style></head>\r\n"
        "<body style=\"margin:0\"><!--[if mso]><table><tr><td><![endif]-->\r\n"
        "<table width=\"100%\" cellpadding=\"0\"><tr><td align=\"center\">\r\n"
        "  <table width=\"600\"><tr><td class=\"h\"><h1>Spring&nbsp;news</h1></td></tr>\r\n"
        "  <tr><td><p>Hello Ann,</p>\r\n"
        "    <p>our garden centre&#146;s new season starts on <b>Saturday</b>:</p>\r\n"
        "    <ul>\r\n"
        "      <li>Roses &#150; 20&nbsp;% off</li>\r\n"
        "      <li>Seeds from 1,50&nbsp;&euro;</li>\r\n"
        "    </ul>\r\n"
        "    <div>&#147;Come early!&#148;<br>Your team</div></td></tr>\r\n"
        "  <tr><td style=\"font-size:10px\">&copy; 2024 Garden &amp; Co &middot; "
        "<a href=\"https://example.org/unsubscribe?u=1&amp;l=2\">Unsubscribe</a></td></tr>"
        "</table>\r\n"
        "</td></tr></table>\r\n"
        "</body></html>\r\n";
    EXPECT_EQ(
        "Spring news\r\n"
        "Hello Ann,\r\n"
        "our garden centre\xE2\x80\x99s new season starts on Saturday:\r\n"
        "- Roses \xE2\x80\x93 20 % off\r\n"
        "- Seeds from 1,50 \xE2\x82\xAC\r\n"
        "\xE2\x80\x9C"
        "Come early!\xE2\x80\x9D\r\n"
        "Your team\r\n"
        "\xC2\xA9 2024 Garden & Co \xC2\xB7 Unsubscribe\r\n",
        HtmlToText(html));
}

TEST(HtmlToText, ReplyWithAQuotedBlock) {
    const char* html =
        "<html><body><div dir=\"ltr\">Fine by me, see you at 10.<br></div><br>"
        "<div class=\"gmail_quote\"><div dir=\"ltr\">On Mon, Bob &lt;bob@example.org&gt; "
        "wrote:<br></div>"
        "<blockquote class=\"gmail_quote\" style=\"margin:0 0 0 .8ex\">Shall we meet on "
        "Tuesday?<br><br>Agenda:<ol><li>Budget</li><li>Plans</li></ol>"
        "<blockquote>&gt; older text</blockquote>Bob</blockquote></div></body></html>";
    EXPECT_EQ(
        "Fine by me, see you at 10.\r\n"
        "\r\n"
        "On Mon, Bob <bob@example.org> wrote:\r\n"
        "> Shall we meet on Tuesday?\r\n"
        ">\r\n"
        "> Agenda:\r\n"
        "> - Budget\r\n"
        "> - Plans\r\n"
        "> > > older text\r\n"
        "> Bob\r\n",
        HtmlToText(html));
}

TEST(HtmlToText, TableOfFigures) {
    const char* html =
        "<html><body><p>Figures for March:</p>\n"
        "<table border=1>\n"
        "  <thead><tr><th>Region</th> <th>Units</th> <th>Change</th></tr></thead>\n"
        "  <tbody>\n"
        "  <tr><td>North</td> <td align=right>1&#8239;204</td> <td>+3&nbsp;%</td></tr>\n"
        "  <tr><td>S&uuml;d</td> <td align=right>987</td> <td>&minus;1&nbsp;%</td></tr>\n"
        "  </tbody>\n"
        "</table>\n"
        "<p>Regards</p></body></html>";
    EXPECT_EQ(
        "Figures for March:\r\n"
        "Region\tUnits\tChange\r\n"
        "North\t1\xE2\x80\xAF"
        "204\t+3 %\r\n"
        "S\xC3\xBC"
        "d\t987\t\xE2\x88\x92"
        "1 %\r\n"
        "Regards\r\n",
        HtmlToText(html));
}

namespace {

// Whether decide takes each text for HTML.
void ExpectHtml(bool (*decide)(std::string_view) noexcept, bool html,
                std::initializer_list<std::string_view> texts) {
    for (std::string_view text : texts) EXPECT_EQ(html, decide(text)) << text;
}

}  // namespace

TEST(LooksLikeHtml, HtmlStartTagAfterBlanksAndDoctype) {
    ExpectHtml(LooksLikeHtml, true,
               {"<html>", "<HTML>x", " \r\n<Html lang=de>",
                "<!DOCTYPE html PUBLIC \"-//W3C//DTD\">\n<html>"});
    ExpectHtml(LooksLikeHtml, false, {"<htmlx>", "text <html>", "<!DOCTYPE html", "", "<body>"});
}

TEST(HeadersSayHtml, ContentTypeOfTheHeaderBlock) {
    ExpectHtml(HeadersSayHtml, true,
               {"From: a\r\nContent-Type: text/html; charset=utf-8\r\n", "content-type:TEXT/HTML\n",
                "Subject: x\r\nContent-Type:\r\n\ttext/html;\r\n charset=x\r\n"});
    ExpectHtml(HeadersSayHtml, false,
               {"Content-Type: text/plain\r\n", "Content-Type: text/htmlx\r\n",
                "Content-Type: multipart/alternative; boundary=b\r\n",
                // A Content-Type after the end of the header block belongs to a body part.
                "From: a\r\n\r\nContent-Type: text/html\r\n", "X-Content-Type: text/html\r\n", ""});
}
