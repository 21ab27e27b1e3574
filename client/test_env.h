// Test helper: points the data, config and documents folders at a fresh temporary
// folder for the life of the object.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "client/client_settings.h"

class TempEnv {
public:
    TempEnv() {
        static std::atomic<int> counter{0};
        root_ = std::filesystem::temp_directory_path() /
                ("skiff-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
        std::filesystem::remove_all(root_);
        std::filesystem::create_directories(root_);
        setenv("XDG_DATA_HOME", (root_ / "data").c_str(), 1);
        setenv("XDG_CONFIG_HOME", (root_ / "config").c_str(), 1);
        setenv("XDG_DOCUMENTS_DIR", (root_ / "docs").c_str(), 1);
        ResetDataFolderForTesting();
    }
    ~TempEnv() {
        ResetDataFolderForTesting();
        std::error_code ec;
        std::filesystem::remove_all(root_, ec);
    }
    const std::filesystem::path& Root() const { return root_; }
    static std::string ReadFile(const std::filesystem::path& path) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }

private:
    std::filesystem::path root_;
};
