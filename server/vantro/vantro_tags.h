// The tag numbers of the Vantro protocol's own code page (page 0) that the protocol
// server reads and writes, and the one item-field tag it reads inside Filter.
// Constant data; any thread.
#pragma once

#include <cstdint>

namespace vantro {

inline constexpr int32_t kPage = 0;

inline constexpr int32_t kSync = 0x01;
inline constexpr int32_t kCollection = 0x14;
inline constexpr int32_t kFolder = 0x15;
inline constexpr int32_t kServerID = 0x18;
inline constexpr int32_t kClientID = 0x19;
inline constexpr int32_t kName = 0x1A;
inline constexpr int32_t kTyp = 0x1B;
inline constexpr int32_t kAdd = 0x1D;
inline constexpr int32_t kDelete = 0x1E;
inline constexpr int32_t kModify = 0x1F;
inline constexpr int32_t kReadFlag = 0x20;
inline constexpr int32_t kLogon = 0x21;
inline constexpr int32_t kDeviceID = 0x22;
inline constexpr int32_t kUserName = 0x23;
inline constexpr int32_t kPassword = 0x24;
inline constexpr int32_t kIsDefault = 0x25;
inline constexpr int32_t kResponse = 0x26;
inline constexpr int32_t kElement = 0x27;
inline constexpr int32_t kReadState = 0x28;
inline constexpr int32_t kReset = 0x29;
inline constexpr int32_t kAcknlowledge = 0x2A;
inline constexpr int32_t kErrorCode = 0x2B;
inline constexpr int32_t kAckString = 0x2C;
inline constexpr int32_t kFolderPath = 0x2F;
inline constexpr int32_t kGetData = 0x36;
inline constexpr int32_t kIncludeContent = 0x37;
inline constexpr int32_t kFolderType = 0x38;
inline constexpr int32_t kFilter = 0x39;
inline constexpr int32_t kSubfolders = 0x3A;
inline constexpr int32_t kNewFolder = 0x3B;
inline constexpr int32_t kMoved = 0x3C;
// In an Element of the answer: the device's Add was paired with a desktop item by name.
inline constexpr int32_t kMatched = 0x3D;

// PR_TRANSPORT_MESSAGE_HEADERS on the e-mail page, read inside a Filter folder.
inline constexpr int32_t kMailPage = 7;
inline constexpr int32_t kTransportHeaders = 0x3B;

}  // namespace vantro
