// The fixture of the end-to-end tests that run corvel over a temporary home: temp_
// is the home the programs are started in, data_ corvel's data folder below it,
// made by SetUp.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "common/base/temp_home.h"

class CorvelHomeTest : public ::testing::Test {
protected:
    void SetUp() override {
        data_ = temp_.Path() + "/Norvex/Corvel";
        std::filesystem::create_directories(data_);
    }

    TempFolder temp_;
    std::string data_;
};
