// Device changes between protocol requests.
#include "server/runtime/device_actions.h"

#include <memory>

#include "server/devices/device_folder.h"
#include "server/http/web_routing.h"

bool ResetDeviceSyncState(Settings& settings, CDeviceList& devices, const std::string& deviceId) {
    if (!IsValidDeviceId(deviceId)) return false;
    if (std::shared_ptr<IProtocolHandlers> handlers = GetProtocolHandlers()) {
        handlers->BetweenRequests(settings, [&devices, deviceId](Settings& s) {
            ApplyDeviceReset(s.DataFolder(), devices, deviceId);
        });
        return true;
    }
    return ApplyDeviceReset(settings.DataFolder(), devices, deviceId);
}

void CarryOutBetweenRequests(Settings& settings, CDeviceList& devices,
                             const CDeviceRequest& request) {
    if (std::shared_ptr<IProtocolHandlers> handlers = GetProtocolHandlers()) {
        handlers->BetweenRequests(settings, [&devices, request](Settings& s) {
            CarryOutDeviceRequest(s, devices, request);
        });
        return;
    }
    CarryOutDeviceRequest(settings, devices, request);
}
