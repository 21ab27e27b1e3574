// The connection manager and the list of active dial-up connections.
//
// On this platform the network is always there: mapping a URL and establishing a
// connection succeed at once, and releasing one does nothing. The calls keep their
// platform shape so the client's connection step reads as it would on a handheld.
// The active connections are the network interfaces that are up, other than loopback.
//
// Thread-safety: every function may be called from any thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

using HRESULT_CM = long;

constexpr uint32_t CONNMGR_PARAM_GUIDDESTNET = 0x1;
constexpr uint32_t CONNMGR_FLAG_PROXY_HTTP = 0x1;
constexpr uint32_t CONNMGR_PRIORITY_USERINTERACTIVE = 0x8000;
constexpr uint32_t CONNMGR_STATUS_CONNECTED = 0x10;

struct ConnMgrGuid {
    uint8_t bytes[16] = {};  // the platform's GUID layout
};

struct CONNMGR_CONNECTIONINFO {
    uint32_t cbSize = 64;
    uint32_t dwParams = 0;
    uint32_t dwFlags = 0;
    uint32_t dwPriority = 0;
    bool bExclusive = false;
    bool bDisabled = false;
    ConnMgrGuid guidDestNet;
    void* hWnd = nullptr;
    uint32_t uMsg = 0;
    long lParam = 0;
};

// Maps url to its destination network. 0 (success) for any URL; index is set to 0.
HRESULT_CM ConnMgrMapURL(const std::string& url, ConnMgrGuid* network, uint32_t* index);
// Establishes a connection synchronously. 0 with a non-zero handle and status
// CONNMGR_STATUS_CONNECTED; E_INVALIDARG (0x80070057) for a missing argument or a
// cbSize other than 64.
HRESULT_CM ConnMgrEstablishConnectionSync(const CONNMGR_CONNECTIONINFO* info, uintptr_t* handle,
                                          uint32_t timeoutMs, uint32_t* status);
// Releases a handle from ConnMgrEstablishConnectionSync. 0; E_INVALIDARG for handle 0.
HRESULT_CM ConnMgrReleaseConnection(uintptr_t handle, long cache);

// Names of the active connections (network interfaces that are up, not loopback),
// at most maxCount of them. Empty when the enumeration fails.
std::vector<std::string> EnumActiveConnections(size_t maxCount);
