// The changes of a running server to a device's files and sync state: the console's
// reset of a device and the requests "corvel device" leaves. The sync state belongs
// to the protocol side, so both run through the installed protocol handlers
// (IProtocolHandlers::BetweenRequests of server/http/web_routing.h) where no
// request runs beside them, or at once when no handlers are installed.
//
// Thread use: any thread; devices must outlive the handlers' pending changes (the
// program owns it beside Settings, for the life of the servers).
#pragma once

#include <string>

#include "server/config/settings.h"
#include "server/devices/device_list.h"
#include "server/devices/device_requests.h"

// The console's reset of a device (ApplyDeviceReset: its sync files deleted, its
// record's sync state dropped). False when deviceId is not a plain device ID.
bool ResetDeviceSyncState(Settings& settings, CDeviceList& devices, const std::string& deviceId);
// A request of "corvel device" (CarryOutDeviceRequest).
void CarryOutBetweenRequests(Settings& settings, CDeviceList& devices,
                             const CDeviceRequest& request);
