#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/wbxml/wbxml.h"
#include "common/wbxml/wbxml_test_util.h"
#include "common/wbxml/wbxml_trace.h"

namespace {

// "(page/token 'value' [children])" for each node, in order.
std::string Render(const CWBXMLLiterals& list) {
    std::string text;
    for (const auto& node : list) {
        text += Cat("(", std::to_string(node->codePage), "/", std::to_string(node->token));
        if (node->children)
            text += Cat(" [", Render(*node->children), "]");
        else
            text += Cat(" '", node->value, "'");
        text += ")";
    }
    return text;
}

struct Built {
    bool ended;
    std::string tree;
};

// Reads the start tag the body begins with, then builds the tree of its children.
Built BuildAfterFirstStart(std::string_view bodyHex) {
    CWBXML r;
    std::string hex = "03 01 6A 00 ";
    hex.append(bodyHex);
    r.SetDocument(Bytes(hex));
    CWBXMLEvent e;
    r.NextEvent(e);
    CWBXMLLiterals list;
    bool ended = r.BuildTree(list, e);
    return {ended, Render(list)};
}

}  // namespace

TEST(WBXMLTree, FieldsAndContainersUpToTheFinalEnd) {
    CWBXML r;
    r.SetDocument(Bytes("03 01 6A 00 57 03 61 00 01 58 56 03 62 00 01 01 01"));
    CWBXMLEvent e;
    CWBXMLLiterals list;
    EXPECT_TRUE(r.BuildTree(list, e));
    EXPECT_EQ(Render(list), "(0/23 'a')(0/24 [(0/22 'b')])");
    EXPECT_EQ(FindValue(list, 0, 0x17), "a");
    EXPECT_EQ(CWBXML::FindValue(*list[1].children, 0, 0x16), "b");
}

TEST(WBXMLTree, ItemCollectionInsideAWalk) {
    // Sync > Add > ServerID, COLLECTION with LastName and FirstName on page 1.
    CWBXML r;
    r.SetDocument(
        Bytes("03 01 6A 00 41 5D 58 03 4B 31 00 01 54 00 01 5D 03 44 6F 65 00 01 5B 03 4A 6F 00 01 "
              "00 00 01 01 01"));
    CWBXMLEvent e;
    while (r.NextEvent(e) && !(e.EventKind == kWBXMLStartTag && e.token == 0x14)) {
    }
    ASSERT_EQ(e.path, "Sync.Add.COLLECTION");
    CWBXMLLiterals fields;
    EXPECT_TRUE(r.BuildTree(fields, e));
    EXPECT_EQ(Render(fields), "(1/29 'Doe')(1/27 'Jo')");
    // The walk goes on after the collection.
    EXPECT_TRUE(r.NextEvent(e));
    EXPECT_EQ(e.tagText, "</Add>");
    EXPECT_FALSE(r.NextEvent(e));
    EXPECT_EQ(e.tagText, "</Sync>");
}

TEST(WBXMLTree, ContainerWhoseFirstChildIsOnAnotherPageIsTakenForAField) {
    // Folder (page 0) whose child RecurrenceType is on page 6: the child lands
    // in the list that holds Folder.
    Built other = BuildAfterFirstStart("54 55 00 06 43 03 31 00 01 01 01");
    EXPECT_TRUE(other.ended);
    EXPECT_EQ(other.tree, "(6/3 '1')");
    // With its child on its own page, Folder is a container.
    Built same = BuildAfterFirstStart("54 55 58 03 31 00 01 01 01");
    EXPECT_TRUE(same.ended);
    EXPECT_EQ(same.tree, "(0/21 [(0/24 '1')])");
}

TEST(WBXMLTree, EmptyFieldYieldsNoNode) {
    Built b = BuildAfterFirstStart("54 57 01 58 03 00 01 01");
    EXPECT_TRUE(b.ended);
    EXPECT_EQ(b.tree, "(0/24 '')");
}

TEST(WBXMLTree, BothFormsOfAnEmptyElementAreEmptyFields) {
    // COLLECTION { LastName cleared (1D, no content bit), CompanyName held (46 with
    // "X"), Department cleared as an empty inline string, FirstName cleared last }:
    // every cleared field is a node with the empty value, in document order.
    Built b = BuildAfterFirstStart("54 00 01 1D 46 03 58 00 01 45 03 00 01 1B 01");
    EXPECT_TRUE(b.ended);
    EXPECT_EQ(b.tree, "(1/29 '')(1/6 'X')(1/5 '')(1/27 '')");
    // A bare tag as the collection's only child, and right before the end of a
    // container: a field, never a container of what follows.
    EXPECT_EQ(BuildAfterFirstStart("54 1D 01").tree, "(0/29 '')");
    EXPECT_EQ(BuildAfterFirstStart("54 55 17 01 58 03 31 00 01 01").tree,
              "(0/21 [(0/23 '')])(0/24 '1')");
    // A bare tag with the attribute bit (0x80) is the same empty field.
    EXPECT_EQ(BuildAfterFirstStart("54 9D 01").tree, "(0/29 '')");
    // A bare tag as the document's last byte: the field, then the cut end.
    Built cut = BuildAfterFirstStart("54 1D");
    EXPECT_FALSE(cut.ended);
    EXPECT_EQ(cut.tree, "(0/29 '')");
}

TEST(WBXMLTree, IntegerTokensAreFieldValues) {
    EXPECT_EQ(BuildAfterFirstStart("54 5C 02 10 27 00 00 01 01").tree, "(0/28 '10000')");
}

TEST(WBXMLTree, LiteralWithoutFieldIsTraced) {
    std::vector<std::string> lines;
    SetWBXMLTraceSink([&lines](const std::string& line) { lines.push_back(line); });
    Built b = BuildAfterFirstStart("54 03 7A 00 01 01");
    SetWBXMLTraceSink(nullptr);
    EXPECT_EQ(b.tree, "(-1/-1 'z')");
    EXPECT_EQ(lines, (std::vector<std::string>{"Literal without field z"}));
}

TEST(WBXMLTree, TextsAreRepairedToUtf8) {
    EXPECT_EQ(BuildAfterFirstStart("54 00 01 5D 03 4D FC 6C 6C 65 72 00 01 01").tree,
              "(1/29 'M\xC3\xBCller')");
}

TEST(WBXMLTree, DocumentEndingInsideAnElementReturnsFalse) {
    Built b = BuildAfterFirstStart("54 57 03 61 00 01 58 56 03 62 00 01");
    EXPECT_FALSE(b.ended);
    EXPECT_EQ(b.tree, "(0/23 'a')(0/24 [(0/22 'b')])");
    EXPECT_FALSE(BuildAfterFirstStart("54 57 03 61").ended);
    EXPECT_FALSE(BuildAfterFirstStart("54 57").ended);
    EXPECT_FALSE(BuildAfterFirstStart("54 00").ended);
}

TEST(WBXMLTree, NestingIsBoundedByMaxDepth) {
    auto nested = [](int containers) {
        std::string hex;
        for (int i = 0; i < containers; ++i) hex += "55 ";
        hex += "57 03 61 00 01 ";
        for (int i = 0; i < containers; ++i) hex += "01 ";
        return hex + "01";
    };
    CWBXML r;
    r.SetDocument(Bytes("03 01 6A 00 54 " + nested(CWBXML::kMaxDepth - 1)));
    CWBXMLEvent e;
    r.NextEvent(e);
    CWBXMLLiterals list;
    EXPECT_TRUE(r.BuildTree(list, e));
    int depth = 0;
    for (const CWBXMLLiterals* l = &list; l->Size() == 1 && l->begin()->get()->children;
         l = (*l)[0].children.get())
        ++depth;
    EXPECT_EQ(depth, CWBXML::kMaxDepth - 1);

    r.SetDocument(Bytes("03 01 6A 00 54 " + nested(CWBXML::kMaxDepth)));
    CWBXMLEvent e2;
    r.NextEvent(e2);
    CWBXMLLiterals deep;
    EXPECT_FALSE(r.BuildTree(deep, e2));
    EXPECT_TRUE(r.ReaderAtEnd());
    EXPECT_FALSE(r.NextEvent(e2));
}

TEST(WBXMLTree, FindValueTakesTheFirstDirectChildOnly) {
    CWBXMLLiterals list;
    list.Add(1, 5, "first");
    list.Add(1, 5, "second");
    CWBXMLLiteral& container = list.Add(0, 0x14);
    container.children = std::make_unique<CWBXMLLiterals>();
    container.children->Add(2, 1, "inner");
    EXPECT_EQ(FindValue(list, 1, 5), "first");
    EXPECT_EQ(FindValue(list, 2, 1), "");
    EXPECT_EQ(FindValue(list, 5, 1), "");
    EXPECT_EQ(FindValue(CWBXMLLiterals(), 0, 0), "");
}
