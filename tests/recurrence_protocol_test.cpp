// A Recurrence block that describes no occurrence, sent by a device: refused for
// its item with an error element and traced; the item's other fields stored.
#include <gtest/gtest.h>

#include "tests/recurrence_sides.h"
#include "tests/test_process.h"
#include "tests/vantro_client.h"

TEST(RecurrenceProtocol, ABlockThatDescribesNoOccurrenceIsRefusedForItsItem) {
    RecurrenceSides sides;
    ASSERT_EQ("", sides.Error());
    std::string request =
        "Logon\n  DeviceID PPC7_Pocket\n  UserName alice\n  Password Secret\n"
        "Sync\n"
        "  Folder\n"
        "    ClientID -3\n"
        "    Typ Appointment\n"
        "    Name Appointment\n"
        "    Add\n"
        "      ClientID 5\n"
        "      COLLECTION\n"
        "        2:Subject Jour fixe\n"
        "        2:Location Raum 1\n"
        "        2:Start 02.03.2026 09:00.00:0\n"
        "        2:End 02.03.2026 10:00.00:0\n"
        "        6:Recurrence\n"
        "          6:RecurrenceType 1\n"
        "          6:Interval 0\n"
        "          6:DayOfWeekMask 2\n";
    std::string answer = DescribeVantroBody(
        AnswerBody(AskLoopback(sides.Port(), VantroHttpRequest(BuildVantroBody(request)))));
    std::string key = sides.DesktopKey("Jour fixe");
    ASSERT_NE("", key) << answer;
    EXPECT_NE(std::string::npos, answer.find("Element\n      ClientID 5\n      ServerID " + key +
                                             "\n      ErrorCode 2\n"))
        << answer;
    // Stored without a series: the other fields are there.
    EXPECT_EQ("Raum 1", sides.DesktopProperty(key, "PSETID_Appointment:0x8208"));
    EXPECT_EQ("2026-03-02T09:00:00Z", sides.DesktopProperty(key, "PSETID_Appointment:0x820D"));
    EXPECT_EQ("", sides.DesktopBlobHex(key));
    EXPECT_NE(std::string::npos, sides.ServerOutput().find(
                                     "Recurrence refused, it describes no occurrence: interval 0"))
        << sides.ServerOutput();
}
