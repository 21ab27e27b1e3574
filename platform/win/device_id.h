// The platform's device identifier block (the kernel's "get device ID" query).
//
// The block has the platform's layout: five little-endian 32-bit words (block size,
// preset-ID offset, preset-ID length, platform-ID offset, platform-ID length), then
// the 16-byte preset ID and the 16-byte platform ID: 52 bytes in all. The preset ID
// is the machine identifier from /etc/machine-id; the platform ID is derived from it.
// A machine without a readable identifier gets 32 random bytes once, kept as the
// byte value "IdentifierBlock" of HKLM\Ident in the registry stand-in, so the block
// stays the same across runs.
//
// Thread-safety: the functions may be called from any thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

constexpr size_t kDeviceIdBlockSize = 52;

// Fills block (at most outSize bytes are offered, as the caller's output buffer).
// True with the block; false when outSize is too small for it or when neither the
// machine identifier nor the registry could supply one (block left empty).
bool GetDeviceIdBlock(std::vector<uint8_t>& block, size_t outSize);

// Test seam: read the machine identifier from path instead of /etc/machine-id
// (an empty text restores the default). Not for use while other threads query.
void SetMachineIdPathForTesting(const std::string& path);

// The block for a 16-byte machine identifier (pure; exposed for tests).
std::vector<uint8_t> BuildDeviceIdBlock(const std::vector<uint8_t>& machineId);
