// The test client itself: descriptions become exact bytes and come back unchanged.
#include "tests/vantro_client.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "tests/vantro_request.h"

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

TEST(SyncRequest, BlocksOpenOnceAndChangesFollowTheirFolder) {
    EXPECT_EQ(SyncRequest()
                  .Filter("Appointment", "-3")
                  .Filter("Task")
                  .Get("Appointment", {"Reset 1"})
                  .GetServerId("00AB")
                  .Folder("-2", "Task")
                  .Add("1", {"3:TaskSubject Pay", "3:TaskImportance 2"})
                  .Modify("", "2", {"3:TaskBody ~"})
                  .Folder("")
                  .Modify("00CD", "3", {})
                  .ServerFolder("-4")
                  .ReadState("00EF", "0")
                  .Delete({"00EF", "0011"})
                  .Get("Email")
                  .Text(),
              "Sync\n"
              "  Filter\n"
              "    Folder\n      FolderType Appointment\n      Filter -3\n"
              "    Folder\n      FolderType Task\n"
              "  GetData\n"
              "    Folder\n      FolderType Appointment\n      Reset 1\n"
              "    Folder\n      ServerID 00AB\n"
              "  Folder\n    ClientID -2\n    Typ Task\n"
              "    Add\n      ClientID 1\n      COLLECTION\n"
              "        3:TaskSubject Pay\n        3:TaskImportance 2\n"
              "    Modify\n      ClientID 2\n      COLLECTION\n        3:TaskBody ~\n"
              "  Folder\n"
              "    Modify\n      ServerID 00CD\n      ClientID 3\n      COLLECTION\n"
              "  Folder\n    ServerID -4\n"
              "    ReadState\n      ServerID 00EF\n      ReadFlag 0\n"
              "    Delete\n      ServerID 00EF\n      ServerID 0011\n"
              "  GetData\n"
              "    Folder\n      FolderType Email\n");
}

}  // namespace
