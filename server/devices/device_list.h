// CDeviceList: the users and devices of the server, in the order they were loaded or
// created (every *.dxt of the data folder, then every *.ifo, then devices as they
// first log on).
//
// Thread use: every member may be called from any thread. The list is guarded by its
// own lock (lock_), which device lookup and creation hold only while they look at the
// list; records are shared, so a record removed from the list stays valid for whoever
// still holds it.
// A record's configuration is read through its own snapshot (CPocketDevice::Config),
// whose lock is taken inside the list lock, never the other way round.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "server/config/credential_check.h"
#include "server/devices/pocket_device.h"

// Longest device ID accepted from a device.
inline constexpr size_t kMaxDeviceIdLength = 64;

// A device ID that may name a file: 1-64 characters of A-Z, a-z, 0-9 and "-".
bool IsValidDeviceId(const std::string& deviceId);
// A user name that may name a file: not empty, no "/", "\", NUL or control
// character, and not beginning with ".".
bool IsValidUserName(const std::string& name);

class CDeviceList : public ICredentialCheck {
public:
    CDeviceList() = default;
    CDeviceList(const CDeviceList&) = delete;
    CDeviceList& operator=(const CDeviceList&) = delete;

    // Drops the records held and reads every *.dxt, then every *.ifo of dataFolder
    // (each group in name order); a file that cannot be read still adds a record
    // with empty fields. Each record logs on to its profile (OpenProfile).
    void LoadAll(const std::string& dataFolder);

    // The record for a device log-on, or none. The list is looked at under the
    // lock; files are read and written, and profiles logged on to, outside it:
    //  1. the first record whose DeviceID equals deviceId;
    //  2. else the first record whose Name equals userName: a new device record is
    //     made from its configuration, appended and written to
    //     <data folder>/<deviceId>.ifo (its profile is opened by its first log-on);
    //  3. else <deviceId>.dxt, then <userName>.dxt of the data folder, read into a new
    //     record (DeviceID set, file path <deviceId>.dxt), appended and not written.
    // The record found in each step counts only when password equals its Passwort
    // exactly; otherwise the result is none and nothing is created or written.
    // A deviceId that is not IsValidDeviceId, or a userName that is not
    // IsValidUserName, gives none; records without DeviceID or Name never match.
    std::shared_ptr<CPocketDevice> FindDevice(const std::string& deviceId,
                                              const std::string& userName,
                                              const std::string& password);
    // The existing device record for deviceId (step 1 only, no password); none when
    // there is none. Creates nothing.
    std::shared_ptr<CPocketDevice> FindExistingDevice(const std::string& deviceId) const;

    // True when some record has a non-empty Name equal to name and a Passwort equal
    // to password (both exact).
    bool HasCredentials(const std::string& name, const std::string& password) const override;

    // Appends a record (the console's "Neu").
    void Add(std::shared_ptr<CPocketDevice> record);
    // Removes the first record whose DeviceID is deviceId; false when there is none.
    bool RemoveDevice(const std::string& deviceId);
    // Removes the first user record (no DeviceID) named name; false when there is none.
    bool RemoveUser(const std::string& name);

    // Drops every record held by the list.
    void Clear();
    // A copy of the list (the records themselves are shared).
    std::vector<std::shared_ptr<CPocketDevice>> Records() const;
    std::string DataFolder() const;

private:
    // Step 1 under the lock: the record of deviceId (null when its password
    // differs), or nothing when the device is not known.
    std::optional<std::shared_ptr<CPocketDevice>> FindKnownLocked(
        const std::string& deviceId, const std::string& password) const;

    mutable std::mutex lock_;  // guards dataFolder_ and records_
    std::string dataFolder_;
    std::vector<std::shared_ptr<CPocketDevice>> records_;
};
