// Test helpers: TempEnv points the data, config and documents folders at a fresh
// temporary folder for the life of the object; FixedMachineId gives the machine a
// known ID for the life of the object.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>

#include "client/client_settings.h"
#include "common/base/temp_home.h"
#include "platform/win/device_id.h"

class TempEnv {
public:
    TempEnv() {
        if (root_.empty()) throw std::runtime_error("no temporary folder");
        setenv("XDG_DATA_HOME", (root_ / "data").c_str(), 1);
        setenv("XDG_CONFIG_HOME", (root_ / "config").c_str(), 1);
        setenv("XDG_DOCUMENTS_DIR", (root_ / "docs").c_str(), 1);
        ResetDataFolderForTesting();
    }
    ~TempEnv() { ResetDataFolderForTesting(); }
    const std::filesystem::path& Root() const { return root_; }
    static std::string ReadFile(const std::filesystem::path& path) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }

private:
    TempFolder folder_{"skiff"};
    const std::filesystem::path root_{folder_.Path()};
};

class FixedMachineId {
public:
    static constexpr const char* kId = "00112233445566778899aabbccddeeff";
    // Writes the ID to a file in folder and reads the machine's ID from there.
    explicit FixedMachineId(const std::filesystem::path& folder) {
        const std::string path = (folder / "machine-id").string();
        std::ofstream(path) << kId << "\n";
        SetMachineIdPathForTesting(path);
    }
    ~FixedMachineId() { SetMachineIdPathForTesting(""); }
    FixedMachineId(const FixedMachineId&) = delete;
    FixedMachineId& operator=(const FixedMachineId&) = delete;
};
