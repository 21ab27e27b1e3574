// CPocketDevice and CPocketFolder: one user (a template for devices, stored as
// <user>.dxt) or one device (stored as <device ID>.ifo) with its MAPI log-on and the
// store folders it synchronises.
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
// still running. The file operations and the MAPI operations are called by one
// thread at a time per record (the Vantro requests are serialised, the console works
// on its own records); the device list guards which records exist.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "common/base/limits.h"
#include "platform/mapi/mapi_interfaces.h"

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

// A MAPI interface held by shared ownership; the last holder releases it.
template <class T>
using MapiShared = std::shared_ptr<T>;

// Takes over one reference of p (may be null).
template <class T>
MapiShared<T> AdoptMapi(T* p) {
    if (p == nullptr) return MapiShared<T>();
    return MapiShared<T>(p, [](T* object) { object->Release(); });
}

struct CPocketFolder {
    std::shared_ptr<CMobileMapiFolder> folderObject;  // held for the protocol
    std::string outlookPath;  // store name, then folder names, separated by "\"
    std::string virtualPath;  // the name shown for the folder
    int32_t subfolders = 0;   // 0 or 1
    int32_t defaultCode = kNoDefaultFolder;
    int32_t reserved = 0;  // read and written back unchanged
    int32_t kind = kKindEmail;
    MapiShared<IMAPIFolder> mapiFolder;  // opened by OpenProfile

    // A copy for a new device: the same settings and the same open MAPI folder,
    // but no protocol folder object.
    CPocketFolder CopySettings() const;
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
    CPocketDevice() = default;
    CPocketDevice(const CPocketDevice&) = delete;
    CPocketDevice& operator=(const CPocketDevice&) = delete;

    // Reads path into this record (fields, folders, signature; see device_file.h),
    // sets the record's file path to path, then runs OpenProfile. False, with the
    // fields left empty, when the file cannot be opened.
    bool ReadDeviceFile(const std::string& path);
    // Writes the record to path (empty: the record's own file path) atomically, mode
    // 0600. False when it cannot be written; an existing file is then unchanged.
    bool WriteDeviceFile(const std::string& path = std::string()) const;

    // Logs on to ProfileName (a new MAPI session) and opens the configured folders
    // through OpenConfiguredFolder, setting each opened folder's kind from its
    // container class. A failed log-on stores its HRESULT in lastLogonError and
    // leaves every folder closed. False when the log-on failed.
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
    MapiShared<IMAPIFolder> OpenMAPIFolder(const std::string& key) const;
    MapiShared<IMessage> OpenMessage(const std::string& key) const;

    // A new device record made from this user record for deviceId: Name, Passwort,
    // ProfileName, the MAPI session and copies of the configured folders.
    std::shared_ptr<CPocketDevice> MakeDevice(const std::string& deviceId,
                                              const std::string& filePath) const;

    // Fields of the file.
    std::string Name;
    std::string Passwort;
    std::string ProfileName;
    std::string DeviceID;
    std::string SignaturShort;
    std::string Signatur;
    bool SignaturAlways = false;
    int32_t TimeZoneDifference = 0;
    std::vector<CPocketFolder> folders;

    std::string filePath;
    HRESULT lastLogonError = 0;
    MapiShared<IMAPISession> session;
    // Entry IDs (bytes) of the default folders, by DefaultFolderSlot, and of the IPM subtree.
    std::array<std::string, kDefaultFolderSlots> defaultFolders;
    std::string ipmSubtree;
    // Sync state per folder key, created on demand by the folder sync state.
    std::map<std::string, std::shared_ptr<CFolderInfo>> syncState;
};

// The slot of a default code (-1 .. -8), or -1 for any other value.
int DefaultFolderSlotForCode(int32_t code);
