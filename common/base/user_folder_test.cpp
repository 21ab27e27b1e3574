#include "common/base/user_folder.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include "common/base/temp_home.h"

namespace {

TEST(UserFolder, TheVariableWinsThenTheHomeFolderThenTheCurrentOne) {
    ScopedVariable home("HOME", "/home/ann");
    {
        ScopedVariable data("CORVEL_TEST_FOLDER", "/srv/data");
        EXPECT_EQ(UserFolder("CORVEL_TEST_FOLDER", ".local/share"), "/srv/data");
    }
    ScopedVariable folder("CORVEL_TEST_FOLDER", "");
    EXPECT_EQ(UserFolder("CORVEL_TEST_FOLDER", ".local/share"), "/home/ann/.local/share");
    unsetenv("CORVEL_TEST_FOLDER");  // the scoped variable puts back what was there
    EXPECT_EQ(UserFolder("CORVEL_TEST_FOLDER", ".config"), "/home/ann/.config");
    ScopedVariable noHome("HOME", "");
    EXPECT_EQ(UserFolder("CORVEL_TEST_FOLDER", "Documents"), "./Documents");
}

}  // namespace
