// CPocketDevice and its folders: one user (a template for devices, stored as
// <user>.dxt) or one device (stored as <device ID>.ifo): its configuration, and the
// MAPI log-on and store folders the protocol opens from it.
//
// File format of .dxt and .ifo (see device_file.h for the exact reading rules):
//   Name=<text>            Passwort=<text>       DeviceID=<text>
//   ProfileName=<text>     SignaturShort=<text>  SignaturAlways=<0|1>
//   TimeZoneDifference=<n>
//   Folder=<Outlook path>,<subfolders>,<reserved>,<virtual path>,<default code>,<kind>
//   ...one Folder line per configured folder...
//   Signatur:
//   <signature text>
//
// Thread use: a record is shared (std::shared_ptr) between the device list and the
// requests using it, so a record removed from the list stays valid for a request
// still running.
//  - The configuration (CDeviceConfig) is a value: Config() hands out a snapshot
//    that never changes, SetConfig and EditConfig replace it whole. configLock_
//    guards which snapshot is current; any thread.
//  - The opened state (session, folders, default folders, sync state) belongs to
//    the protocol side, which runs one request at a time: it is built before the
//    record is shared (ReadDeviceFile) and afterwards only by requests (the log-on
//    opens the profile anew from the configuration then). Other threads never touch
//    it; the console's reset goes through the protocol side
//    (IProtocolHandlers::ResetDevice).
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "common/base/limits.h"
#include "platform/mapi/mapi_interfaces.h"
#include "server/mapi/mapi_ref.h"

class CMobileMapiFolder;  // the protocol's folder object (store layer)
class CFolderInfo;        // the sync state of one folder (folder sync state)

// Default-folder codes: which default folder a configured folder stands for.
enum DefaultFolderCode : int32_t {
    kNoDefaultFolder = 0,
    kDefaultContacts = -1,
    kDefaultTasks = -2,
    kDefaultCalendar = -3,
    kDefaultInbox = -4,
    kDefaultDrafts = -5,
    kDefaultOutbox = -6,
    kDefaultSentItems = -7,
    kDefaultDeletedItems = -8,
};

// Folder kinds as the files and the protocol count them.
enum FolderKind : int32_t {
    kKindEmail = 1,
    kKindContact = 2,
    kKindAppointment = 3,
    kKindTask = 5,
};

// The kind a default code implies: -1 contact, -2 task, -3 appointment, else e-mail.
int32_t KindForDefaultCode(int32_t code);

// One configured folder as the record's file holds it.
struct CFolderSetting {
    std::string outlookPath;  // store name, then folder names, separated by "\"
    std::string virtualPath;  // the name shown for the folder
    int32_t subfolders = 0;   // 0 or 1
    int32_t defaultCode = kNoDefaultFolder;
    int32_t reserved = 0;  // read and written back unchanged
    int32_t kind = kKindEmail;

    bool operator==(const CFolderSetting&) const = default;
};

// A configured folder as the protocol opened it (OpenProfile).
struct CPocketFolder : CFolderSetting {
    CPocketFolder() = default;
    explicit CPocketFolder(CFolderSetting setting) : CFolderSetting(std::move(setting)) {}

    std::shared_ptr<CMobileMapiFolder> folderObject;  // held for the protocol
    CMapiRef<IMAPIFolder> mapiFolder;                 // opened by OpenProfile
};

// The values of a record's file, and the file itself.
struct CDeviceConfig {
    std::string Name;
    std::string Passwort;
    std::string ProfileName;
    std::string DeviceID;
    std::string SignaturShort;
    std::string Signatur;
    bool SignaturAlways = false;
    int32_t TimeZoneDifference = 0;
    std::vector<CFolderSetting> folders;
    std::string filePath;
};

// Indexes of the default-folder table.
enum DefaultFolderSlot {
    kSlotInbox,
    kSlotOutbox,
    kSlotDrafts,
    kSlotDeletedItems,
    kSlotSentItems,
    kSlotTasks,
    kSlotCalendar,
    kSlotContacts,
    kSlotNotes,
    kSlotJournal,
    kDefaultFolderSlots
};

class CPocketDevice {
public:
    CPocketDevice() : config_(std::make_shared<const CDeviceConfig>()) {}
    // config is kept fitted to its file's lines (FitDeviceFileLines), here and by
    // SetConfig and EditConfig.
    explicit CPocketDevice(CDeviceConfig config);
    CPocketDevice(const CPocketDevice&) = delete;
    CPocketDevice& operator=(const CPocketDevice&) = delete;

    // The current configuration; it never changes once handed out.
    std::shared_ptr<const CDeviceConfig> Config() const;
    // Replaces the configuration whole.
    void SetConfig(CDeviceConfig config);
    // A copy of the current configuration changed by edit, put in its place; no other
    // change comes between. edit must not call into this record. The new one.
    std::shared_ptr<const CDeviceConfig> EditConfig(
        const std::function<void(CDeviceConfig&)>& edit);

    // Reads path into the configuration (fields, folders, signature; see
    // device_file.h) with path as its file, then runs OpenProfile. False, with the
    // configuration left as it was, when the file cannot be opened.
    bool ReadDeviceFile(const std::string& path);
    // Writes the configuration to path (empty: its own file) atomically, mode 0600.
    // False when it cannot be written; an existing file is then unchanged.
    bool WriteDeviceFile(const std::string& path = std::string()) const;

    // Logs on to the configuration's ProfileName (a new MAPI session) and opens its
    // configured folders anew (folders, one per configured folder, through
    // OpenConfiguredFolder), setting each opened folder's kind from its container
    // class. A failed log-on stores its HRESULT in lastLogonError and leaves every
    // folder closed. False when the log-on failed.
    bool OpenProfile();
    // Fills the default-folder table from the default stores of the session, logs on
    // again (OpenProfile), then lets every open configured folder with a default code
    // take over that code's slot. Errors leave the table as far as it got.
    void FindDefaultFolders();
    // The default code ("-4", ...) when folder is one of the default folders, else
    // its display name; empty on a store error.
    std::string GetShortName(IMAPIFolder* folder) const;
    // The path of folder below the IPM subtree, default folders by their code
    // ("-4/Projekte"). Stops after kMaxFolderDepth levels or at a folder already
    // visited; store errors end the walk with the path built so far.
    std::string GetFolderPath(IMAPIFolder* folder) const;
    // Opens the folder / message whose entry ID is the hexadecimal text key in any
    // store of the session; none on every failure (malformed key included).
    CMapiRef<IMAPIFolder> OpenMAPIFolder(const std::string& key) const;
    CMapiRef<IMessage> OpenMessage(const std::string& key) const;

    // A new device record made from this user record's configuration for deviceId
    // (Name, Passwort, ProfileName and the configured folders, filePath as given);
    // its profile is opened by its first log-on.
    std::shared_ptr<CPocketDevice> MakeDevice(const std::string& deviceId,
                                              const std::string& filePath) const;

    // The protocol's state of the record (see the top of this file).
    std::vector<CPocketFolder> folders;  // the configured folders as opened
    HRESULT lastLogonError = 0;
    CMapiRef<IMAPISession> session;
    // Entry IDs (bytes) of the default folders, by DefaultFolderSlot, and of the IPM subtree.
    std::array<std::string, kDefaultFolderSlots> defaultFolders;
    std::string ipmSubtree;
    // Sync state per folder key, created on demand by the folder sync state.
    std::map<std::string, std::shared_ptr<CFolderInfo>> syncState;

private:
    mutable std::mutex configLock_;  // guards config_ (the pointer, not what it points to)
    std::shared_ptr<const CDeviceConfig> config_;
};

// The slot of a default code (-1 .. -8), or -1 for any other value.
int DefaultFolderSlotForCode(int32_t code);
