// Device identifier block from the machine identifier or a kept random block.
#include "platform/win/device_id.h"

#include <fstream>
#include <mutex>
#include <random>

#include "platform/win/registry.h"

namespace {

std::mutex gPathMutex;
std::string gMachineIdPath = "/etc/machine-id";

std::string MachineIdPath() {
    std::lock_guard<std::mutex> lock(gPathMutex);
    return gMachineIdPath;
}

void PutWord(std::vector<uint8_t>& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

int Hex(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The 16 bytes of /etc/machine-id (32 hexadecimal digits), or none.
bool ReadMachineId(std::vector<uint8_t>& id) {
    std::ifstream in(MachineIdPath());
    std::string line;
    if (!in || !std::getline(in, line) || line.size() < 32) return false;
    id.clear();
    for (size_t i = 0; i < 32; i += 2) {
        int hi = Hex(line[i]), lo = Hex(line[i + 1]);
        if (hi < 0 || lo < 0) return false;
        id.push_back(static_cast<uint8_t>(hi * 16 + lo));
    }
    return true;
}

bool KeptRandomId(std::vector<uint8_t>& id) {
    std::optional<RegistryKey> key;
    if (RegistryKey::Create(RegistryRoot::LocalMachine, "Ident", key) != kRegOk) return false;
    if (key->QueryBytes("IdentifierBlock", id) == kRegOk && id.size() == 16) return true;
    std::random_device rd;
    id.clear();
    for (int i = 0; i < 16; ++i) id.push_back(static_cast<uint8_t>(rd()));
    return key->SetBytes("IdentifierBlock", id) == kRegOk;
}

}  // namespace

std::vector<uint8_t> BuildDeviceIdBlock(const std::vector<uint8_t>& machineId) {
    std::vector<uint8_t> block;
    PutWord(block, kDeviceIdBlockSize);
    PutWord(block, 20);
    PutWord(block, 16);
    PutWord(block, 36);
    PutWord(block, 16);
    for (size_t i = 0; i < 16; ++i) block.push_back(i < machineId.size() ? machineId[i] : 0);
    // The platform ID: a fixed mix of the machine ID, so both halves are stable.
    for (size_t i = 0; i < 16; ++i) {
        uint8_t b = i < machineId.size() ? machineId[15 - i] : 0;
        block.push_back(static_cast<uint8_t>((b ^ 0x5A) + i * 7));
    }
    return block;
}

bool GetDeviceIdBlock(std::vector<uint8_t>& block, size_t outSize) {
    block.clear();
    if (outSize < kDeviceIdBlockSize) return false;
    std::vector<uint8_t> id;
    if (!ReadMachineId(id) && !KeptRandomId(id)) return false;
    block = BuildDeviceIdBlock(id);
    return true;
}

void SetMachineIdPathForTesting(const std::string& path) {
    std::lock_guard<std::mutex> lock(gPathMutex);
    gMachineIdPath = path.empty() ? "/etc/machine-id" : path;
}
