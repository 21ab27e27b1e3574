#include <gtest/gtest.h>

#include "server/vantro/attachment_request.h"

namespace {

std::string Parsed(const std::string& url) {
    CAttachmentLink link;
    if (!ParseAttachmentLink(url, link)) return "<none>";
    return link.folder + "|" + link.entryId + "|" + link.attachmentName;
}

TEST(AttachmentLink, ComponentsAndDecoding) {
    EXPECT_EQ(Parsed("/OutlookAttachments/Inbox/00AB12.EML/a%20b.txt?device=PPC1&username=alice"),
              "Inbox|00AB12|a b.txt");
    EXPECT_EQ(Parsed("/OutlookAttachments/Inbox/00AB.x.EML/%41%zz%4"), "Inbox|00AB|A%zz%4");
    EXPECT_EQ(Parsed("/OutlookAttachments/Inbox/00AB.EML"), "<none>");
    EXPECT_EQ(Parsed("/OutlookAttachments/Inbox/00AB.EML/"), "<none>");
    EXPECT_EQ(Parsed("/OutlookAttachments//00AB.EML/a"), "<none>");
    EXPECT_EQ(Parsed("/OutlookAttachments"), "<none>");
}

TEST(AttachmentLink, PercentDecodingAtTheEnd) {
    EXPECT_EQ(DecodePercent("a%20b"), "a b");
    EXPECT_EQ(DecodePercent("a%2"), "a%2");
    EXPECT_EQ(DecodePercent("%41%42"), "AB");
    EXPECT_EQ(DecodePercent("%"), "%");
}

}  // namespace
