// The device's sync.log: its header, one escaped line per losing value.
#include "server/config/sync_log.h"

#include <gtest/gtest.h>

#include "server/config/config_test_util.h"

namespace {

TEST(SyncLog, HeaderOnceThenOneLinePerValue) {
    TempFolder temp;
    CSyncLogLine line{"Contacts", "00AB", "CompanyName", "Initech", "ACME"};
    ASSERT_TRUE(AppendSyncLog(temp.Path(), "PPC1", line, 1714555812));  // 2024-05-01 09:30:12
    CSyncLogLine odd{"Tasks", "00CD", "TaskBody", "a\tb\nc\\d\r", ""};
    ASSERT_TRUE(AppendSyncLog(temp.Path(), "PPC1", odd, 1714555813));
    EXPECT_EQ(ReadWholeFile(SyncLogPath(temp.Path(), "PPC1")),
              "# Corvel sync log of device PPC1: handheld values that lost to the desktop's\n"
              "# One line per field, fields separated by tabs: time (UTC, YYYY-MM-DD "
              "hh:mm:ss),\n"
              "# folder, item key, field, losing handheld value, winning desktop value.\n"
              "# In values, \"\\\" is written \"\\\\\", a tab \"\\t\", a line feed \"\\n\", a "
              "carriage return \"\\r\".\n"
              "2024-05-01 09:30:12\tContacts\t00AB\tCompanyName\tInitech\tACME\n"
              "2024-05-01 09:30:13\tTasks\t00CD\tTaskBody\ta\\tb\\nc\\\\d\\r\t\n");
    EXPECT_EQ(ModeOf(SyncLogPath(temp.Path(), "PPC1")), 0600u);
}

}  // namespace
