// The files of one device in the data folder: <device ID>.ifo and the sub-folder
// <device ID>/ with its sync state (*.csv) and sync.log. Used by the console's
// device pane and by "corvel device". Any thread.
#pragma once

#include <string>

class CDeviceList;

// The latest modification time among <data folder>/<device ID>/*.csv as
// "dd.mm.yyyy hh:mm" (UTC); empty when there is no such file.
std::string DeviceLastAccess(const std::string& dataFolder, const std::string& deviceId);
// Deletes <data folder>/<device ID>.ifo and every file directly inside the device's
// sub-folder whose name does not begin with "." (nothing below it, nothing it
// links to). False, deleting nothing, when deviceId is not a plain device ID.
bool DeleteDeviceFiles(const std::string& dataFolder, const std::string& deviceId);

// Resets a device: DeleteDeviceFiles, then the device record's sync state objects
// are dropped, so the next sync compares against the missing files. The sync state
// belongs to the protocol side: call this only where requests are kept out (see
// IProtocolHandlers::ResetDevice). False when deviceId is not a plain device ID.
bool ApplyDeviceReset(const std::string& dataFolder, CDeviceList& devices,
                      const std::string& deviceId);
