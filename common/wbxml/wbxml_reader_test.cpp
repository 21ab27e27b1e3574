#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/wbxml/wbxml.h"
#include "common/wbxml/wbxml_test_util.h"

namespace {

// Walks a whole document and renders each event as one line:
// "<kind> page token path tagText value more".
std::string Walk(std::string_view hex, bool tree = false) {
    CWBXML r;
    r.SetDocument(Bytes(hex));
    CWBXMLEvent e;
    std::string lines;
    for (int guard = 0; guard < 1000; ++guard) {
        bool more = tree ? r.NextTreeEvent(e) : r.NextEvent(e);
        if (e.EventKind == kWBXMLNoEvent) {
            lines += "none\n";
            break;
        }
        lines += Cat(std::to_string(e.EventKind), " ", std::to_string(e.codePage), "/",
                     std::to_string(e.token), " [", e.path, "] ", e.tagText, " '", e.value, "'",
                     more ? "" : " last", "\n");
        if (!more) break;
    }
    return lines;
}

}  // namespace

TEST(WBXMLReader, WalkReportsPathsAndTagTexts) {
    EXPECT_EQ(Walk("03 01 6A 00 41 55 03 78 00 01 01"),
              "1 0/1 [Sync] <Sync> ''\n"
              "1 0/21 [Sync.Folder] <Folder> ''\n"
              "2 0/21 [Sync.Folder]  'x'\n"
              "3 0/21 [Sync] </Folder> ''\n"
              "3 0/21 [] </Sync> '' last\n");
}

TEST(WBXMLReader, NameStackFollowsTheOpenElements) {
    CWBXML r;
    r.SetDocument(Bytes("03 01 6A 00 41 55 5D 01 01 01"));
    CWBXMLEvent e;
    std::vector<std::string> seen;
    while (true) {
        bool more = r.NextEvent(e);
        std::string names;
        for (auto n : e.nameStack) names += std::string(n) + ",";
        seen.push_back(names);
        if (!more) break;
    }
    EXPECT_EQ(seen, (std::vector<std::string>{"Sync,", "Sync,Folder,", "Sync,Folder,Add,",
                                              "Sync,Folder,", "Sync,", ""}));
}

TEST(WBXMLReader, TagWithoutContentBitEndsOnTheNextCall) {
    EXPECT_EQ(Walk("03 01 6A 00 41 15 03 61 00 01"),
              "1 0/1 [Sync] <Sync> ''\n"
              "1 0/21 [Sync.Folder] <Folder> ''\n"
              "3 0/21 [Sync] </Folder> ''\n"
              "2 0/21 [Sync]  'a'\n"
              "3 0/21 [] </Sync> '' last\n");
    // The pending end reads no byte: the string is still there afterwards. As
    // the last byte, such a tag still reports its end.
    EXPECT_EQ(Walk("03 01 6A 00 15"),
              "1 0/21 [Folder] <Folder> ''\n"
              "3 0/21 [] </Folder> '' last\n");
}

TEST(WBXMLReader, PageSwitchesCutNamesAndMisses) {
    EXPECT_EQ(Walk("03 01 6A 00 00 07 40 03 62 00 01 00 01 71 01 00 02 4B 01"),
              "1 7/0 [BODY] <BODY> ''\n"
              "2 7/0 [BODY]  'b'\n"
              "3 7/0 [] </BODY> ''\n"
              "1 1/49 [unknown 1 31] <unknown 1 31> ''\n"
              "3 1/49 [] </unknown 1 31> ''\n"
              "1 2/11 [Recipients] <Recipients> ''\n"
              "3 2/11 [] </Recipients> '' last\n");
}

TEST(WBXMLReader, IntegerTokensAndStrayEnds) {
    EXPECT_EQ(Walk("03 01 6A 00 01 5C 02 FB FF FF FF 04 2A 00 00 00 01"),
              "3 0/0 [] </> ''\n"
              "1 0/28 [BodySize] <BodySize> ''\n"
              "2 0/28 [BodySize]  '-5'\n"
              "2 0/28 [BodySize]  '42'\n"
              "3 0/28 [] </BodySize> '' last\n");
}

TEST(WBXMLReader, AttributeBitIsIgnoredAndBareTagsAreStartAndEnd) {
    // C1: Sync with attribute and content bits; 05: a tag byte with neither bit,
    // an empty element (the form of a cleared field), in both kinds of walk.
    const std::string expected =
        "1 0/1 [Sync] <Sync> ''\n"
        "1 0/5 [Sync.unknown 0 5] <unknown 0 5> ''\n"
        "3 0/5 [Sync] </unknown 0 5> ''\n"
        "3 0/5 [] </Sync> '' last\n";
    EXPECT_EQ(Walk("03 01 6A 00 C1 05 01"), expected);
    EXPECT_EQ(Walk("03 01 6A 00 C1 05 01", true), expected);
}

TEST(WBXMLReader, TreeEventsRepairTextThatIsNotUtf8) {
    // "Mü" sent in Windows-1252 reads as UTF-8 in tree events, unchanged otherwise.
    EXPECT_EQ(Walk("03 01 6A 00 5D 03 4D FC 00 01", true),
              "1 0/29 [Add] <Add> ''\n"
              "2 0/29 [Add]  'M\xC3\xBC'\n"
              "3 0/29 [] </Add> '' last\n");
    EXPECT_EQ(Walk("03 01 6A 00 5D 03 4D FC 00 01"),
              "1 0/29 [Add] <Add> ''\n"
              "2 0/29 [Add]  'M\xFC'\n"
              "3 0/29 [] </Add> '' last\n");
}

TEST(WBXMLReader, EmptyAndShortDocumentsReportNothing) {
    for (const char* hex : {"", "03 01", "03 01 6A 00", "03 01 6A 00 00 01"})
        EXPECT_EQ(Walk(hex), "none\n") << hex;
}

TEST(WBXMLReader, CutTokensEndTheWalk) {
    const char* const cut[] = {
        "03 01 6A 00 41 00",           // a page switch as the last byte
        "03 01 6A 00 41 03 61",        // a string without its zero byte
        "03 01 6A 00 41 02 01 02 03",  // integer tokens with fewer than four bytes left
        "03 01 6A 00 41 04",
    };
    for (const char* hex : cut) EXPECT_EQ(Walk(hex), "1 0/1 [Sync] <Sync> ''\nnone\n") << hex;
}

TEST(WBXMLReader, ResetReaderStartsAgainOnPageZero) {
    CWBXML r;
    r.SetDocument(Bytes("03 01 6A 00 41 01 00 01 41 01"));
    CWBXMLEvent e;
    while (r.NextEvent(e)) {
    }
    EXPECT_EQ(e.codePage, 1);
    EXPECT_EQ(e.tagText, "</ServerID>");
    EXPECT_TRUE(r.ReaderAtEnd());
    r.ResetReader();
    CWBXMLEvent fresh;
    EXPECT_TRUE(r.NextEvent(fresh));
    EXPECT_EQ(fresh.codePage, 0);
    EXPECT_EQ(fresh.tagText, "<Sync>");
}

TEST(WBXMLReader, LongPathKeepsItsFirst255CharactersAndPopsBack) {
    // 30 nested Acknlowledge elements (12 characters each): 389 characters in full.
    std::string doc = "03 01 6A 00";
    for (int i = 0; i < 30; ++i) doc += " 6A";
    doc += " 03 7A 00";
    for (int i = 0; i < 30; ++i) doc += " 01";
    CWBXML r;
    r.SetDocument(Bytes(doc));
    CWBXMLEvent e;
    std::string full;
    std::vector<std::string> fullPaths;
    for (int i = 0; i < 30; ++i) {
        r.NextEvent(e);
        if (!full.empty()) full += '.';
        full += "Acknlowledge";
        fullPaths.push_back(full);
        EXPECT_EQ(e.path, full.substr(0, 255)) << i;
    }
    EXPECT_EQ(e.path.size(), 255u);
    EXPECT_EQ(e.nameStack.size(), 30u);
    r.NextEvent(e);
    EXPECT_EQ(e.value, "z");
    for (int i = 29; i >= 0; --i) {
        r.NextEvent(e);
        EXPECT_EQ(e.tagText, "</Acknlowledge>");
        EXPECT_EQ(e.path, i == 0 ? std::string() : fullPaths[i - 1].substr(0, 255)) << i;
    }
    EXPECT_TRUE(e.nameStack.empty());
}

TEST(WBXMLReader, RepeatedChildrenArriveInOrder) {
    EXPECT_EQ(Walk("03 01 6A 00 55 58 03 31 00 01 58 03 32 00 01 01"),
              "1 0/21 [Folder] <Folder> ''\n"
              "1 0/24 [Folder.ServerID] <ServerID> ''\n"
              "2 0/24 [Folder.ServerID]  '1'\n"
              "3 0/24 [Folder] </ServerID> ''\n"
              "1 0/24 [Folder.ServerID] <ServerID> ''\n"
              "2 0/24 [Folder.ServerID]  '2'\n"
              "3 0/24 [Folder] </ServerID> ''\n"
              "3 0/24 [] </Folder> '' last\n");
}

TEST(WBXMLReader, NestingPastTheDepthLimitEndsTheWalk) {
    // kMaxReaderDepth nested elements are read; the next start tag ends the walk, and a
    // document of a million start tags keeps no more than kMaxReaderDepth names.
    auto nested = [](size_t count) {
        std::string doc("\x03\x01\x6A\x00", 4);
        doc.append(count, '\x6A');
        return doc;
    };
    CWBXML r;
    r.SetDocument(nested(CWBXML::kMaxReaderDepth));
    CWBXMLEvent e;
    int starts = 0;
    while (r.NextEvent(e) && e.EventKind == kWBXMLStartTag) ++starts;
    if (e.EventKind == kWBXMLStartTag) ++starts;
    EXPECT_EQ(starts, CWBXML::kMaxReaderDepth);

    r.SetDocument(nested(1000000));
    CWBXMLEvent deep;
    starts = 0;
    for (;;) {
        bool more = r.NextEvent(deep);
        if (deep.EventKind != kWBXMLStartTag) break;
        ++starts;
        if (!more) break;
    }
    EXPECT_EQ(starts, CWBXML::kMaxReaderDepth);
    EXPECT_EQ(deep.EventKind, kWBXMLNoEvent);
    EXPECT_EQ(deep.nameStack.size(), static_cast<size_t>(CWBXML::kMaxReaderDepth));
    EXPECT_TRUE(r.ReaderAtEnd());
}
