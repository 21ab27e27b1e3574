// corvel device: the devices that synchronised, without the console.
//
//   corvel device list [--json]
//       one line per device: ID, display name, user, the time of the last sync (UTC)
//       and what it did per folder, from the device's sync.log (sync_log.h); a
//       device that has no sync line yet shows the time of its newest state file.
//   corvel device reset ID [--folder KEY]
//       the console's "Gerät zurücksetzen": the device's .ifo file and its sync state
//       are deleted, so its next sync starts afresh; with --folder only the state
//       files of that folder (KEY.csv, KEY_temp*.csv and the folder's key map).
//   corvel device remove ID
//       the console's "Gerät Löschen": as reset, and the device leaves the names of
//       settings.inf (merged as "corvel web" does, so the running server takes it).
//
// reset and remove delete files that a running server holds in memory: while a
// server holds the data folder they leave the request to it (device_requests.h) and
// wait up to kDeviceRequestWait for it to be carried out; a request the server does
// not take in that time is withdrawn and nothing happens. list runs at any time.
#pragma once

#include <chrono>
#include <ostream>
#include <string>

#include "server/app/command.h"

inline constexpr std::chrono::milliseconds kDeviceRequestWait{10000};

// Exit status: 0 done, 1 failed or not taken (message on err), 2 bad input.
int RunDeviceList(const std::string& dataFolder, bool json, std::ostream& out, std::ostream& err);
int RunDeviceReset(const std::string& dataFolder, const std::string& deviceId,
                   const std::string& folderKey, std::ostream& out, std::ostream& err,
                   std::chrono::milliseconds wait = kDeviceRequestWait);
int RunDeviceRemove(const std::string& dataFolder, const std::string& deviceId, std::ostream& out,
                    std::ostream& err, std::chrono::milliseconds wait = kDeviceRequestWait);

void AddDeviceCommand(CLI::App& app, CommandAction& chosen);
