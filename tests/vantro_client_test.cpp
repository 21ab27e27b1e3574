// The test client itself: descriptions become exact bytes and come back unchanged.
#include "tests/vantro_client.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

TEST(VantroClient, BuildsExactBytesAndDescribesThemBack) {
    const std::string description =
        "Logon\n"
        "  DeviceID PPC1_Pocket\n"
        "Sync\n"
        "  Folder\n"
        "    Add\n"
        "      COLLECTION\n"
        "        1:FirstName Jane\n"
        "        ClientID =\n";
    std::string body = BuildVantroBody(description);
    EXPECT_EQ(body, std::string("\x03\x01\x6A\x00"
                                "\x61\x62\x03PPC1_Pocket\x00\x01\x01"
                                "\x41\x55\x5D\x54"
                                "\x00\x01\x5B\x03Jane\x00\x01"
                                "\x00\x00\x59\x03\x00\x01"
                                "\x01\x01\x01\x01",
                                45));
    EXPECT_EQ(DescribeVantroBody(body), description);
}

TEST(VantroClient, ClearedFieldsAreBareTagsOrEmptyStrings) {
    // CompanyName (token 06) as its bare tag, Birthday (token 02) as the tag with an
    // empty string.
    std::string body = BuildVantroBody("COLLECTION\n  1:CompanyName ~\n  1:Birthday ~\n");
    EXPECT_EQ(body, std::string("\x03\x01\x6A\x00\x54\x00\x01\x06\x42\x03\x00\x01\x01", 13));
}

TEST(VantroClient, CutDocumentsAndUnknownNames) {
    std::string body = BuildVantroBody("Sync\n  Folder\n    ServerID -1\n");
    EXPECT_EQ(DescribeVantroBody(body.substr(0, body.size() - 2)),
              "Sync\n  Folder\n    ServerID -1\n!cut\n");
    EXPECT_THROW(BuildVantroBody("NoSuchTag\n"), std::invalid_argument);
    EXPECT_EQ(DescribeVantroBody(std::string("\x03\x01\x6A\x00", 4)), "");
}

}  // namespace
