// The data folder lock: one holder at a time, free again after release.
#include "server/config/data_folder_lock.h"

#include <gtest/gtest.h>

#include "server/config/config_test_util.h"

namespace {

TEST(DataFolderLock, OneHolderAtATime) {
    TempFolder folder;
    std::string error;
    CDataFolderLock server;
    ASSERT_TRUE(server.TryAcquire(folder.Path(), error)) << error;
    EXPECT_EQ(ModeOf(folder.Path() + "/corvel.lock"), 0600u);
    CDataFolderLock tool;
    EXPECT_FALSE(tool.TryAcquire(folder.Path(), error));
    EXPECT_EQ(error, "a running server holds " + folder.Path());
    server.Release();
    EXPECT_TRUE(tool.TryAcquire(folder.Path(), error));
    CDataFolderLock missing;
    EXPECT_FALSE(missing.TryAcquire(folder.Path() + "/no/such", error));
    EXPECT_FALSE(missing.IsHeld());
}

}  // namespace
