// CMobileMapiFolder: a store folder of one device: its key, its change list against
// the device's baseline (change detection of the folder sync state), the snapshot,
// and the item operations (open, create, delete, move) and sub-folders.
//
// Change list: computed at the folder's first use in a request (PrepareChanges, or
// OpenFolder when it opens the folder) and kept for the rest of the request; a
// later request computes it afresh, and Reset discards the baseline for one
// computation. The snapshot (SaveStatus) uses the window the list was computed
// with, so list and snapshot always describe the same items.
//
// Failures: store errors are caught per operation, which then returns none, false,
// an empty text, 1 or true as stated; the few places that report other failures
// use message boxes (never dialogs on a worker thread).
//
// Thread use: not locked; used by the one request thread of its device at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "server/mapi/byte_buffer.h"
#include "server/mapi/mapi_item_ptrs.h"
#include "server/store/vantro_folder.h"
#include "server/syncstate/folder_info.h"

class CMobileMapiSession;
class CPocketDevice;

class CMobileMapiFolder : public CAbstractVantroFolder {
public:
    // A folder of device bound to session (neither owned; the device must outlive
    // the folder unless holdDevice keeps it alive). folder may be empty (not open).
    CMobileMapiFolder(CPocketDevice* device, CMobileMapiSession* session,
                      IMAPIFolderPtr folder = IMAPIFolderPtr());
    // The same for a folder held as a raw interface (one reference is added).
    CMobileMapiFolder(CPocketDevice* device, CMobileMapiSession* session, IMAPIFolder* folder);
    ~CMobileMapiFolder() override;
    CMobileMapiFolder(const CMobileMapiFolder&) = delete;
    CMobileMapiFolder& operator=(const CMobileMapiFolder&) = delete;

    // PR_DISPLAY_NAME, read from the store once per request (session generation)
    // and kept; empty on a store error.
    std::string GetName() override;
    // A new item whose PR_MESSAGE_CLASS follows the class name ("Contact" or
    // "Contacts" IPM.Contact, "Task" IPM.Task, "Appointment" IPM.Appointment,
    // "Email" IPM.Post); none on a store error.
    std::unique_ptr<CAbstractVantroElement> NewElement() override;
    // The item the key names, opened through this folder with best access; none
    // for a key that is not hexadecimal, names nothing, or on a store error.
    std::unique_ptr<CAbstractVantroElement> GetElement(const std::string& key) override;
    // Writes the snapshot of the live table under GetTempKey (generation of
    // PrepareSnapshot, named in the file's "Generation=" line) with the window of the
    // current change list (dayWindow when none was computed), then removes every
    // other snapshot of the folder. Items changed in the
    // store after the list was computed, other than by the device in this request,
    // keep their baseline row (new ones are left out), so they are sent next time. When the change
    // list could not be computed completely, no snapshot is written and an earlier unacknowledged
    // one is removed, so that no acknowledgement can install a baseline the device did not receive.
    // False when nothing was written.
    bool SaveStatus(int dayWindow) override;
    // Remembers dayWindow; computes the change list when it is not computed in this
    // request, dayWindow is a window other than the list's, or reset is set (then
    // clears reset); rewinds the cursor. True.
    bool PrepareChanges(int dayWindow) override;
    // With reset set, computes as PrepareChanges would. Then the entry under the
    // cursor as an element (new and modified items opened, other kinds by key),
    // advancing the cursor; none at the end, again until PrepareChanges rewinds.
    // The device's own changes of this request (CMobileMapiSession::DeviceChanges)
    // are not sent back, however the list was computed, except the items whose
    // stored state differs from what the device holds after its change
    // (CRequestExchange echoes): they come as Modify, also when they are not in
    // the list, after its other entries.
    // A new or modified item that no longer exists is passed over (trace "Item %s
    // no longer exists, passed over"), except that a modified one the device did
    // not delete itself comes as a deletion (the device still holds it).
    std::unique_ptr<CAbstractVantroElement> NextChangedElement() override;
    CChangeEntry* GetChangeEntry(int index) override;
    int GetChangeCount() override;
    // From an index of the list by key, made at the first call after the list was
    // computed, so asking for every item of a request costs one pass.
    CChangeEntry* FindChangeEntry(const std::string& key) override;
    bool ClearChanges() override;
    // The default-folder code for the device's default folders other than Sent
    // Items, else the upper-case hexadecimal entry ID; empty (trace "folder is
    // NULL") when no folder is open.
    std::string GetKey() override;
    // PR_DISPLAY_NAME, else PR_CONTAINER_CLASS, else PR_MESSAGE_CLASS.
    std::string GetDisplayName() override;
    // Moves the item to target (another CMobileMapiFolder): a move; failing that, a
    // copy (traced "Move fell back to copy %s": the item stays in place); failing
    // that, a move from wherever the item lies in the target's store. Store errors
    // are traced and swallowed; other failures report "Crash in
    // CMobileMapiFolder::MoveElement". True. A key that is not hexadecimal does
    // nothing.
    bool MoveElement(const std::string& key, CAbstractVantroFolder* target) override;
    // The class name; when empty, derived from PR_CONTAINER_CLASS: empty or
    // "IPF.Note" "Email", "IPF.Contact" "Contact", "IPF.Appointment" "Appointment",
    // "IPF.Task" "Task", anything else empty.
    std::string GetClassName() override;
    void SetClassName(const std::string& className) override { className_ = className; }
    void SetReset(bool reset) override { reset_ = reset; }
    bool IsValid() override { return static_cast<bool>(folder_); }
    // The sub-folder at index of the hierarchy rows (loaded once), through
    // OpenSubFolder; none when not open or past the rows.
    CAbstractVantroFolder* GetSubFolder(int index) override;
    // True when the folder has sub-folders (rows loaded once); false on store errors.
    bool HasFolders() override;
    // The sub-folder with that hexadecimal entry ID, from the session's cache
    // (re-opened) or opened through this folder and cached; none on store errors.
    CAbstractVantroFolder* OpenSubFolder(const std::string& key) override;
    // Deletes the item from whichever folder of this folder's store holds it now
    // (trace "Deleting %s"). A key that is not hexadecimal touches nothing. 1.
    int DeleteElement(const std::string& key) override;
    // Picks the generation of the folder's next snapshot: one more than the
    // baseline's and every snapshot's in the device folder. Returns it.
    std::uint64_t PrepareSnapshot() override;
    // The snapshot's file key: "<key>_temp.<generation>" after PrepareSnapshot,
    // "<key>_temp" before.
    std::string GetTempKey() override;

    // True when this folder is one of its device's configured or default folders or
    // a sub-folder of one (see offered_folders.h); false when not open.
    bool IsOffered();

    // Accessors for the session, the elements and the item conversion.
    IMAPIFolderPtr& MapiFolder() { return folder_; }
    CPocketDevice* Device() const { return device_; }
    CMobileMapiSession* Session() const { return session_; }
    // Keeps the device record alive as long as the folder (session-cached folders).
    void HoldDevice(std::shared_ptr<CPocketDevice> device) { deviceHold_ = std::move(device); }
    // Replaces the store folder (clears the cached entry ID, name and sub-folder rows).
    void SetMapiFolder(IMAPIFolderPtr folder);
    // PR_ENTRYID of the folder (read once); empty when not open or on a store error.
    const CByteBuffer& EntryId();
    bool Reset() const { return reset_; }
    int DayWindow() const { return dayWindow_; }
    bool IsComputed() const { return computed_; }
    // The session generation the change list was computed in (0: never).
    std::uint64_t ComputedGeneration() const { return computedGeneration_; }

private:
    void Compute(int dayWindow);
    bool ComputedInThisRequest() const;
    // The element of one entry; none for an item that is gone and not to be sent.
    std::unique_ptr<CAbstractVantroElement> ElementOf(const CChangeEntry& entry);
    // True when the entry's item is the device's own change of this request and
    // not to be sent back.
    bool IsOwnChange(const std::string& key) const;
    bool LoadSubFolderRows();
    // True when the folder with that entry ID is offered to this folder's device.
    bool ParentOffered(const CByteBuffer& parentId) const;
    std::string DeviceId() const;

    bool reset_ = false;
    bool computed_ = false;
    bool computeFailed_ = false;
    int dayWindow_ = 0;
    int computedWindow_ = 0;
    std::uint64_t computedGeneration_ = 0;
    std::int64_t computedAt_ = 0;  // FILETIME when the list was last computed
    bool subFoldersLoaded_ = false;
    std::vector<std::pair<CByteBuffer, std::string>> subFolders_;  // entry ID, name
    size_t cursor_ = 0;
    // Positions in changes_ by key, first entry of each; valid while indexed_.
    std::unordered_map<std::string, size_t> changeIndex_;
    bool indexed_ = false;
    // Echoed items handed out since the last rewind, and the next echo to look at.
    std::unordered_set<std::string> handedOut_;
    size_t echoCursor_ = 0;
    std::uint64_t snapshotGeneration_ = 0;
    std::uint64_t snapshotGenerationRequest_ = 0;  // the session generation it was picked in
    CPocketDevice* device_;
    std::shared_ptr<CPocketDevice> deviceHold_;
    CMobileMapiSession* session_;
    std::shared_ptr<CFolderInfo> info_;
    ChangeList changes_;
    IMAPIFolderPtr folder_;
    CByteBuffer entryId_;
    bool entryIdRead_ = false;
    std::string name_;  // PR_DISPLAY_NAME as read in request nameGeneration_
    bool nameRead_ = false;
    std::uint64_t nameGeneration_ = 0;
    std::string className_;
};
