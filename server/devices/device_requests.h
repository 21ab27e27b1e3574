// Requests of "corvel device reset|remove" to the running server. The server holds
// a device's record and sync state in memory, so a command-line tool does not
// delete the device's files under it: it leaves a request, and the server, which
// looks once a second (CSettingsWatcher), carries it out the way the console's
// device pane does.
//
// A request is the file <data folder>/device-requests/<device ID> holding one line:
// "reset", "reset <folder key>" or "remove". A newer request of a device replaces
// an older one. The server takes a request by renaming it to <device ID>.taken
// before it reads it, so a request is carried out once, and removes that file when
// it has carried it out; the tool that left it knows it is done when both files are
// gone, and withdraws it (unlink) when it waits no longer, so a request is either
// carried out or withdrawn, never both.
// Any thread; the file system orders concurrent writers and takers.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <vector>

struct CDeviceRequest {
    enum class Kind { kReset, kRemove };
    std::string deviceId;
    Kind kind = Kind::kReset;
    std::string folderKey;  // reset of one folder; empty: the whole device
    bool operator==(const CDeviceRequest&) const = default;
};

inline constexpr const char* kDeviceRequestFolder = "device-requests";

// Leaves request for the running server (the folder is created when missing).
// False with a reason in error when it cannot be written or the device ID cannot
// name a file.
bool WriteDeviceRequest(const std::string& dataFolder, const CDeviceRequest& request,
                        std::string& error);
// Takes the requests left so far and hands each to carryOut; a request's file is
// removed once carryOut returned. Unreadable or malformed request files are removed.
// The number carried out.
int TakeDeviceRequests(const std::string& dataFolder,
                       const std::function<void(const CDeviceRequest&)>& carryOut);
enum class CRequestWait { kDone, kWithdrawn, kStillRunning };
// Waits up to timeout for the request of deviceId to be carried out. kWithdrawn:
// the server did not take it in time, and it is withdrawn; kStillRunning: the
// server took it and had not finished when the time was up.
CRequestWait WaitForDeviceRequest(const std::string& dataFolder, const std::string& deviceId,
                                  std::chrono::milliseconds timeout);

class CDeviceList;
class Settings;

// Carries out request in the running server as the console's device pane does: the
// device's files are deleted (for a folder reset only that folder's state files),
// its in-memory sync state is dropped so the next sync reads the state afresh, and
// a removal also takes its name out of settings.inf. One live trace line says so.
// The sync state belongs to the protocol side: call this only where requests are
// kept out (CarryOutBetweenRequests of server/runtime/device_actions.h).
void CarryOutDeviceRequest(Settings& settings, CDeviceList& devices, const CDeviceRequest& request);
// Deletes the state files of one folder of a device (<key>.csv, <key>_temp*.csv,
// <key>.map, <key>.map-dirty); the number deleted.
int DeleteFolderStateFiles(const std::string& dataFolder, const std::string& deviceId,
                           const std::string& folderKey);
// A folder key: -1 ... -8 or an entry ID in hexadecimal.
bool IsFolderKey(const std::string& key);

// The request as its file's line, and back (false for anything else).
std::string FormatDeviceRequest(const CDeviceRequest& request);
bool ParseDeviceRequest(const std::string& deviceId, const std::string& line,
                        CDeviceRequest& request);
