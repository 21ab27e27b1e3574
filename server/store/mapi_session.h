// CMobileMapiSession: the session of the protocol server on the message store. It
// holds the current device (set by Logon) and the cache of folders opened through
// it, and opens folders by key, by default-folder code and by path.
//
// Folder cache: folders opened through OpenFolder, OpenFolderByPath and
// OpenSubFolder stay cached for the life of the process, keyed by device ID and
// folder key, so that two devices never share a folder object (their codes "-1" ...
// "-8" are the same). A folder object replaced in the cache (Sent Items is
// registered under its hexadecimal key, so each OpenFolder("-7") makes a new one)
// and folders returned unopened are kept until the next request begins and then
// freed.
//
// Requests: a counter of requests (advanced by BeginRequest and by Logon) lets a
// cached folder compute its change list afresh at its first use in each request,
// and only once within the request.
//
// Thread use: not locked; the protocol server runs one Vantro request at a time.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "server/store/item_converter.h"
#include "server/store/request_exchange.h"
#include "server/store/vantro_session.h"

class CDeviceList;
class CMobileMapiFolder;
class CPocketDevice;
class Settings;

class CMobileMapiSession : public CAbstractVantroSession {
public:
    // devices supplies the device lookup, settings the device names and the data
    // folder; both must outlive the session.
    CMobileMapiSession(Settings& settings, CDeviceList& devices);
    ~CMobileMapiSession() override;
    CMobileMapiSession(const CMobileMapiSession&) = delete;
    CMobileMapiSession& operator=(const CMobileMapiSession&) = delete;

    // The folder cached under key for the current device; none without a device.
    CAbstractVantroFolder* OpenStockFolder(const std::string& key) override;
    // CDeviceList::FindDevice; on success the device becomes current, its default
    // folders are refreshed (FindDefaultFolders) and its name is registered
    // (GetDeviceName). On failure there is no current device. Starts a new request
    // generation either way.
    bool Logon(const std::string& deviceId, const std::string& deviceName,
               const std::string& userName, const std::string& password) override;
    // 1. A folder cached under key (or under the code a hexadecimal key of a default
    //    folder stands for) is returned with its class name set to className.
    // 2. Without a current device: none.
    // 3. A new folder opens: for a key shorter than two characters the default folder
    //    of className ("Contact"/"Contacts", "Task", "Appointment", "Email"); for a
    //    code "-1" ... "-8" that default folder; otherwise the folder the hexadecimal
    //    key names in any store of the device. Its class name is className.
    // 4. When it opened: trace "Syncing folder %s" (its full path) and compute its
    //    change list (no window); it is cached under its GetKey.
    // A folder that did not open is returned unopened ("%s error opening folder"
    // for an unknown class name), owned by the session until the next request.
    // A hexadecimal key of a folder outside the device's configured and default
    // folders and their sub-folders (offered_folders.h), traced "Folder
    // %s refused: not offered to device %s", gives an unopened folder.
    CAbstractVantroFolder* OpenFolder(const std::string& key, const std::string& className,
                                      bool isDefault) override;
    // Walks the path ("/"-separated, empty parts skipped, at most kMaxPathParts parts
    // of at most kMaxPathPartLength bytes): a first part beginning with "-" is the
    // default folder of that code, otherwise a folder of that name below the top of
    // the default store; every further part the sub-folder of that name. Missing
    // folders are created. The last one is opened with OpenFolder by its entry ID.
    // None on store errors or a path outside the limits (traced "Folder path
    // refused: ..." before anything is created). The folder reached is not confined
    // to the offered folders: a move may create its target anywhere.
    CAbstractVantroFolder* OpenFolderByPath(const std::string& path) override;
    // The current device's path of the folder's store folder; empty without a device
    // or an open folder.
    std::string GetFolderPath(CAbstractVantroFolder* folder) override;
    // Does nothing; false.
    bool StoreNames(const std::string& a, const std::string& b) override;

    // New request: no current device, a new generation, no device changes, a new
    // exchange, and the folder objects kept from the previous request (replaced or
    // unopened) are freed.
    void BeginRequest() override;
    // End of a request: the exchange's ClientID maps are written and every cached
    // folder's change list is emptied.
    void EndRequest() override;

    // What this request exchanges with its device (ClientID maps, echoes); bound
    // to the device of a successful Logon.
    CRequestExchange& Exchange() { return exchange_; }
    const CRequestExchange& Exchange() const { return exchange_; }

    static constexpr size_t kMaxPathParts = 32;
    static constexpr size_t kMaxPathPartLength = 255;

    // The current device (none before a successful Logon of this request).
    CPocketDevice* CurrentDevice() const { return device_.get(); }
    std::shared_ptr<CPocketDevice> CurrentDeviceShared() const { return device_; }
    // Makes device current without a log-on (the device record is already known).
    void SetCurrentDevice(std::shared_ptr<CPocketDevice> device) { device_ = std::move(device); }

    // The request generation; see the top of this file.
    std::uint64_t Generation() const { return generation_; }
    const std::string& DataFolder() const;

    // The item conversion (none: conversions report that they are not available).
    CItemConverter* ItemConverter() const { return converter_.get(); }
    void SetItemConverter(std::shared_ptr<CItemConverter> converter) {
        converter_ = std::move(converter);
    }

    // Cache access for the folders: the folder cached for deviceId under key, or
    // none; Register takes ownership and caches it under (deviceId, key) (a folder
    // it replaces is kept until the next request; an empty deviceId or key caches
    // nothing and keeps the folder until the next request).
    CMobileMapiFolder* CachedFolder(const std::string& deviceId, const std::string& key) const;
    CMobileMapiFolder* Register(const std::string& deviceId,
                                std::unique_ptr<CMobileMapiFolder> folder, const std::string& key);
    // Keeps folder until the next request begins and returns it.
    CMobileMapiFolder* KeepUntilNextRequest(std::unique_ptr<CMobileMapiFolder> folder);
    // Items the device itself added, changed, deleted, moved or marked read in this
    // request, by key (kept upper-case); emptied when a request begins. A change
    // list computed after such a change leaves the item out (the device is not sent
    // its own change back), and the snapshot records these items as they are now.
    void NoteDeviceChange(const std::string& itemKey);
    bool ChangedByDevice(const std::string& itemKey) const;
    const std::set<std::string>& DeviceChanges() const { return deviceChanges_; }

    // Number of cached folders (all devices).
    size_t CacheSize() const { return cache_.size(); }

private:
    using CacheKey = std::pair<std::string, std::string>;  // device ID, folder key

    std::string NormaliseKey(const std::string& key) const;
    CAbstractVantroFolder* OpenFolderConfined(const std::string& key, const std::string& className,
                                              bool confine);
    CMobileMapiFolder* RefuseFolder(const std::string& key);
    CMobileMapiFolder* OpenNewFolder(const std::string& key, const std::string& className);

    Settings& settings_;
    CDeviceList& devices_;
    std::shared_ptr<CPocketDevice> device_;
    std::map<CacheKey, std::unique_ptr<CMobileMapiFolder>> cache_;
    std::vector<std::unique_ptr<CMobileMapiFolder>> retired_;
    std::uint64_t generation_ = 1;
    std::set<std::string> deviceChanges_;
    CRequestExchange exchange_;
    std::shared_ptr<CItemConverter> converter_;
    mutable std::string dataFolder_;
};
