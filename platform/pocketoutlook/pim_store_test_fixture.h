// Test fixture: a fresh temporary home with the PIM store logged on in app_, logged
// off when the test ends.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>

#include "common/base/temp_home.h"
#include "platform/pocketoutlook/pocket_outlook.h"

class PimStoreTest : public ::testing::Test {
protected:
    explicit PimStoreTest(const char* homeName) : home_(homeName) {}
    void SetUp() override {
        ASSERT_FALSE(home_.Path().empty());
        ASSERT_TRUE(app_.Logon()) << app_.error();
    }
    void TearDown() override { app_.Logoff(); }

    TempHome home_;
    const std::filesystem::path dir_{home_.Path()};
    PocketOutlookApplication app_;
};
