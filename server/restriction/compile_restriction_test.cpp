// Restriction text over hand-built restriction trees (no store needed).
#include "server/restriction/compile_restriction.h"

#include <gtest/gtest.h>

#include <string>

#include "server/mapi/mapi_prop_value.h"
#include "server/mapi/restriction_tree.h"

namespace {

using Tree = adaptertest::RestrictionTree;

TEST(CompileRestriction, AbsentRestriction) {
    CCompileRestriction compile;
    EXPECT_EQ(compile.Compile(nullptr), "(NULL)");
}

TEST(CompileRestriction, DateWindowOnLastModificationTime) {
    Tree t;
    CCompileRestriction compile;
    SRestriction* r = t.Property(RELOP_GE, PR_LAST_MODIFICATION_TIME,
                                 t.Time(PR_LAST_MODIFICATION_TIME, 2009, 3, 7));
    EXPECT_EQ(compile.Compile(r), "LastModificationTime >= Date(7,3,2009) ");
}

TEST(CompileRestriction, AndOrNotNestTheirParts) {
    Tree t;
    CCompileRestriction compile;
    SRestriction* a =
        t.Property(RELOP_EQ, PR_MESSAGE_CLASS, t.Str(PR_MESSAGE_CLASS, "IPM.Contact"));
    SRestriction* b = t.Property(RELOP_NE, PR_MESSAGE_FLAGS, t.Long(PR_MESSAGE_FLAGS, 1));
    EXPECT_EQ(compile.Compile(t.List(RES_AND, {a, b})),
              "(MessageClass = \"IPM.Contact\"  and MessageFlags <> 1 )");
    EXPECT_EQ(compile.Compile(t.Not(t.List(RES_OR, {a, b}))),
              "not ((MessageClass = \"IPM.Contact\"  or MessageFlags <> 1 ))");
    EXPECT_EQ(compile.Compile(t.List(RES_AND, {})), "()");
    SRestriction* three = t.List(RES_OR, {a, t.List(RES_AND, {a, b}), b});
    EXPECT_EQ(compile.Compile(three),
              "(MessageClass = \"IPM.Contact\"  or (MessageClass = \"IPM.Contact\"  and "
              "MessageFlags <> 1 ) or MessageFlags <> 1 )");
}

TEST(CompileRestriction, EveryRelation) {
    EXPECT_EQ(CCompileRestriction::RelationText(RELOP_LT), "<");
    EXPECT_EQ(CCompileRestriction::RelationText(RELOP_LE), "<=");
    EXPECT_EQ(CCompileRestriction::RelationText(RELOP_GT), ">");
    EXPECT_EQ(CCompileRestriction::RelationText(RELOP_GE), ">=");
    EXPECT_EQ(CCompileRestriction::RelationText(RELOP_EQ), "=");
    EXPECT_EQ(CCompileRestriction::RelationText(RELOP_NE), "<>");
    EXPECT_EQ(CCompileRestriction::RelationText(RELOP_RE), "~");
    EXPECT_EQ(CCompileRestriction::RelationText(9), "?9");
}

TEST(CompileRestriction, ContentWithFuzzyWordsInOrder) {
    Tree t;
    CCompileRestriction compile;
    EXPECT_EQ(compile.Compile(
                  t.Content(FL_SUBSTRING | FL_IGNORECASE, PR_SUBJECT, t.Str(PR_SUBJECT, "Hallo"))),
              "Subject=substring ignorecase \"Hallo\" ");
    EXPECT_EQ(compile.Compile(t.Content(FL_LOOSE | FL_IGNORECASE | FL_SUBSTRING | FL_PREFIX,
                                        PR_BODY, t.Str(PR_BODY, "x"))),
              "Body=prefix substring ignorecase loose \"x\" ");
    EXPECT_EQ(compile.Compile(t.Content(FL_FULLSTRING, PR_SUBJECT, t.Str(PR_SUBJECT, "x"))),
              "Subject=\"x\" ");
}

TEST(CompileRestriction, CompareBitmaskSizeExist) {
    Tree t;
    CCompileRestriction compile;
    SRestriction* compare = t.New(RES_COMPAREPROPS);
    compare->res.resCompareProps = {RELOP_LT, PR_CREATION_TIME, PR_LAST_MODIFICATION_TIME};
    EXPECT_EQ(compile.Compile(compare), "CreationTime < LastModificationTime ");

    SRestriction* eqz = t.New(RES_BITMASK);
    eqz->res.resBitMask = {BMR_EQZ, PR_MESSAGE_FLAGS, MSGFLAG_READ};
    EXPECT_EQ(compile.Compile(eqz), "MessageFlags = bitmask 1 ");
    SRestriction* nez = t.New(RES_BITMASK);
    nez->res.resBitMask = {BMR_NEZ, PR_MESSAGE_FLAGS, 0x10};
    EXPECT_EQ(compile.Compile(nez), "MessageFlags <> bitmask 16 ");

    SRestriction* size = t.New(RES_SIZE);
    size->res.resSize = {RELOP_GT, PR_BODY, 1000};
    EXPECT_EQ(compile.Compile(size), " size(Body) > 1000 ");

    SRestriction* exist = t.New(RES_EXIST);
    exist->res.resExist = {0, PR_SUBJECT, 0};
    EXPECT_EQ(compile.Compile(exist), "exist Subject ");
}

TEST(CompileRestriction, SubRestrictionsOnRecipientsAndAttachments) {
    Tree t;
    CCompileRestriction compile;
    SRestriction* recipients = t.New(RES_SUBRESTRICTION);
    recipients->res.resSub = {PR_MESSAGE_RECIPIENTS, t.Property(RELOP_EQ, PR_EMAIL_ADDRESS,
                                                                t.Str(PR_EMAIL_ADDRESS, "a@b"))};
    EXPECT_EQ(compile.Compile(recipients), "Recipient(EmailAddress = \"a@b\" )");
    SRestriction* exist = t.New(RES_EXIST);
    exist->res.resExist = {0, PR_ATTACH_LONG_FILENAME, 0};
    SRestriction* attachments = t.New(RES_SUBRESTRICTION);
    attachments->res.resSub = {PR_MESSAGE_ATTACHMENTS, exist};
    EXPECT_EQ(compile.Compile(attachments), "Attachment(exist AttachLongFilename )");
}

TEST(CompileRestriction, ValuesByType) {
    Tree t;
    CCompileRestriction compile;
    EXPECT_EQ(compile.Compile(t.Property(RELOP_EQ, PR_SUBJECT_W, t.Wide(PR_SUBJECT_W, u"Grüße"))),
              "Subject = \"Grüße\" ");
    EXPECT_EQ(compile.Compile(t.Property(RELOP_GT, PR_IMPORTANCE, t.Long(PR_IMPORTANCE, -2))),
              "Importance > -2 ");
    // Stored text is data, never a format.
    EXPECT_EQ(compile.Compile(t.Property(RELOP_EQ, PR_SUBJECT, t.Str(PR_SUBJECT, "%s%n%x"))),
              "Subject = \"%s%n%x\" ");
    EXPECT_EQ(compile.Compile(t.Property(RELOP_EQ, PR_SUBJECT, nullptr)), "Subject = (NULL) ");
    uint8_t bytes[] = {0x01, 0xAB};
    CPropValue bin = CPropValue::Binary(PR_ENTRYID, bytes, 2);
    EXPECT_EQ(compile.Compile(t.Property(RELOP_EQ, PR_ENTRYID, bin.Get())), "Entryid = 01AB ");
}

TEST(CompileRestriction, PropertyNames) {
    CCompileRestriction compile;
    EXPECT_EQ(compile.PropertyName(PR_MESSAGE_CLASS), "MessageClass");
    EXPECT_EQ(compile.PropertyName(PR_MESSAGE_CLASS_W), "MessageClass");
    EXPECT_EQ(compile.PropertyName(CHANGE_PROP_TYPE(PR_SUBJECT, PT_UNSPECIFIED)), "Subject");
    EXPECT_EQ(compile.PropertyName(PR_BUSINESS2_TELEPHONE_NUMBER), "Business2TelephoneNumber");
    EXPECT_EQ(compile.PropertyName(PR_IPM_SUBTREE_ENTRYID), "IpmSubtreeEntryid");
    // Without a name: the tag in hexadecimal; named properties without a store too.
    EXPECT_EQ(compile.PropertyName(0x6001001Eu), "0x6001001e");
    EXPECT_EQ(compile.PropertyName(0x8005001Eu), "0x8005001e");
    EXPECT_EQ(CCompileRestriction::StandardName("PR_LAST_MODIFICATION_TIME"),
              "LastModificationTime");
}

TEST(CompileRestriction, CommentsAreTransparentAndUnknownTypesNamed) {
    Tree t;
    CCompileRestriction compile;
    SRestriction* comment = t.New(RES_COMMENT);
    comment->res.resComment = {0, t.Property(RELOP_LE, PR_MESSAGE_SIZE, t.Long(PR_MESSAGE_SIZE, 5)),
                               nullptr};
    EXPECT_EQ(compile.Compile(comment), "MessageSize <= 5 ");
    EXPECT_EQ(compile.Compile(t.New(0x42)), "unknown(66) ");
}

TEST(CompileRestriction, DeepNestingIsCut) {
    Tree t;
    CCompileRestriction compile;
    SRestriction* r = t.Property(RELOP_EQ, PR_SUBJECT, t.Str(PR_SUBJECT, "x"));
    for (int i = 0; i < 200; ++i) r = t.Not(r);
    std::string expected;
    for (int i = 0; i < CCompileRestriction::kMaxDepth; ++i) expected += "not (";
    expected += "...";
    for (int i = 0; i < CCompileRestriction::kMaxDepth; ++i) expected += ")";
    EXPECT_EQ(compile.Compile(r), expected);
}

}  // namespace
