#include "common/base/user_folder.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <optional>
#include <string>

namespace {

// Sets (or with nullopt unsets) an environment variable for one test and restores it.
class ScopedVariable {
public:
    ScopedVariable(const char* name, std::optional<std::string> value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        if (value)
            setenv(name, value->c_str(), 1);
        else
            unsetenv(name);
    }
    ~ScopedVariable() {
        if (old_)
            setenv(name_, old_->c_str(), 1);
        else
            unsetenv(name_);
    }
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;

private:
    const char* name_;
    std::optional<std::string> old_;
};

TEST(UserFolder, TheVariableWinsThenTheHomeFolderThenTheCurrentOne) {
    ScopedVariable home("HOME", "/home/ann");
    {
        ScopedVariable data("CORVEL_TEST_FOLDER", "/srv/data");
        EXPECT_EQ(UserFolder("CORVEL_TEST_FOLDER", ".local/share"), "/srv/data");
    }
    {
        ScopedVariable empty("CORVEL_TEST_FOLDER", "");
        EXPECT_EQ(UserFolder("CORVEL_TEST_FOLDER", ".local/share"), "/home/ann/.local/share");
    }
    ScopedVariable unset("CORVEL_TEST_FOLDER", std::nullopt);
    EXPECT_EQ(UserFolder("CORVEL_TEST_FOLDER", ".config"), "/home/ann/.config");
    ScopedVariable noHome("HOME", "");
    EXPECT_EQ(UserFolder("CORVEL_TEST_FOLDER", "Documents"), "./Documents");
}

}  // namespace
