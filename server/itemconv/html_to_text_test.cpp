#include "server/itemconv/html_to_text.h"

#include <gtest/gtest.h>

#include <string>

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
}

TEST(HtmlToText, WhiteSpaceFolds) {
    EXPECT_EQ("a b c", HtmlToText("<body>a  \r\n b\n\n\nc"));
    EXPECT_EQ("a \t b", HtmlToText("<body>a \t b"));  // TAB is copied, blanks around it fold
    EXPECT_EQ(" a", HtmlToText("<body>\r\n a"));
}

TEST(HtmlToText, BreaksAndParagraphs) {
    EXPECT_EQ("1\r\n2\r\n3\r\n4\r\n5", HtmlToText("<body>1<br>2<br/>3<BR />4<br class=x>5"));
    EXPECT_EQ("One\r\nTwo\r\n", HtmlToText("<body><p>One</p><P class=q>Two</P >"));
    EXPECT_EQ("ab", HtmlToText("<body>a<brx>b"));
    EXPECT_EQ("ab", HtmlToText("<body>a<pre>b"));
    // A tag does not touch the white-space flag.
    EXPECT_EQ("a \r\nb", HtmlToText("<body>a <br> b"));
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
    EXPECT_EQ("&eacute; &x;", HtmlToText("<body>&eacute; &x;"));  // unknown: kept
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
    // Nothing that would end or corrupt the text: 0, surrogates, beyond U+10FFFF.
    EXPECT_EQ("ab", HtmlToText("<body>a&#0;&#x0;&#xD800;&#1114112;b"));
    EXPECT_EQ("&#12a;&#;&#x;", HtmlToText("<body>&#12a;&#;&#x;"));  // not numbers: kept
    EXPECT_EQ("", HtmlToText("<body>&#99999999999999999999;"));
}

TEST(HtmlToText, EndsAtNulAndKeepsOtherBytes) {
    std::string in = std::string("<body>a\xE9", 8) + std::string(1, '\0') + "b";
    EXPECT_EQ("a\xE9", HtmlToText(in));
    EXPECT_EQ("", HtmlToText(""));
    EXPECT_EQ("", HtmlToText(static_cast<const char*>(nullptr)));
    EXPECT_EQ("", HtmlToText("<body>"));
}

TEST(LooksLikeHtml, HtmlStartTagAfterBlanksAndDoctype) {
    EXPECT_TRUE(LooksLikeHtml("<html>"));
    EXPECT_TRUE(LooksLikeHtml("<HTML>x"));
    EXPECT_TRUE(LooksLikeHtml(" \r\n<Html lang=de>"));
    EXPECT_TRUE(LooksLikeHtml("<!DOCTYPE html PUBLIC \"-//W3C//DTD\">\n<html>"));
    EXPECT_FALSE(LooksLikeHtml("<htmlx>"));
    EXPECT_FALSE(LooksLikeHtml("text <html>"));
    EXPECT_FALSE(LooksLikeHtml("<!DOCTYPE html"));
    EXPECT_FALSE(LooksLikeHtml(""));
    EXPECT_FALSE(LooksLikeHtml("<body>"));
}
