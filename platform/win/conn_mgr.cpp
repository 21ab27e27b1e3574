// Connection manager stand-in: the network is present, connections are notional.
#include "platform/win/conn_mgr.h"

#include <ifaddrs.h>
#include <net/if.h>

#include <algorithm>
#include <atomic>
#include <memory>

namespace {
constexpr HRESULT_CM kInvalidArg = static_cast<HRESULT_CM>(0x80070057L);
std::atomic<uintptr_t> gNextHandle{1};
}  // namespace

HRESULT_CM ConnMgrMapURL(const std::string& url, ConnMgrGuid* network, uint32_t* index) {
    if (url.empty() || !network) return kInvalidArg;
    *network = ConnMgrGuid{};
    if (index) *index = 0;
    return 0;
}

HRESULT_CM ConnMgrEstablishConnectionSync(const CONNMGR_CONNECTIONINFO* info, uintptr_t* handle,
                                          uint32_t /*timeoutMs*/, uint32_t* status) {
    if (!info || !handle || !status || info->cbSize != 64) return kInvalidArg;
    *handle = gNextHandle.fetch_add(1);
    *status = CONNMGR_STATUS_CONNECTED;
    return 0;
}

HRESULT_CM ConnMgrReleaseConnection(uintptr_t handle, long /*cache*/) {
    return handle == 0 ? kInvalidArg : 0;
}

std::vector<std::string> EnumActiveConnections(size_t maxCount) {
    std::vector<std::string> names;
    ifaddrs* raw = nullptr;
    if (getifaddrs(&raw) != 0) return names;
    std::unique_ptr<ifaddrs, decltype(&freeifaddrs)> list(raw, &freeifaddrs);
    for (ifaddrs* a = list.get(); a && names.size() < maxCount; a = a->ifa_next) {
        if (!a->ifa_name || !(a->ifa_flags & IFF_UP) || (a->ifa_flags & IFF_LOOPBACK)) continue;
        if (std::find(names.begin(), names.end(), a->ifa_name) == names.end()) {
            names.emplace_back(a->ifa_name);
        }
    }
    return names;
}
