// CAbstractVantroFolder: a store folder as the protocol server sees it: its key and
// names, its change list against the device's baseline, and the item operations.
//
// Folder objects are owned by the session's cache or by a configured folder; callers
// receive plain pointers that stay valid until the end of the request at least.
// Thread use: a folder is used by the one request thread that synchronises its
// device at a time; it has no lock.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "server/store/vantro_element.h"
#include "server/syncstate/change_entry.h"

class CAbstractVantroFolder {
public:
    virtual ~CAbstractVantroFolder() = default;

    virtual std::string GetName() = 0;
    // A new item in the folder; none on a store error.
    virtual std::unique_ptr<CAbstractVantroElement> NewElement() = 0;
    // The item the key names, opened for writing; none when the key names no item.
    virtual std::unique_ptr<CAbstractVantroElement> GetElement(const std::string& key) = 0;
    // Writes the snapshot of the folder under its temporary key; see the
    // implementation for the window used.
    virtual bool SaveStatus(int dayWindow) = 0;
    // Computes the change list when needed and rewinds its cursor.
    virtual bool PrepareChanges(int dayWindow) = 0;
    // The next changed item as an element (the caller deletes it); none at the end.
    virtual std::unique_ptr<CAbstractVantroElement> NextChangedElement() = 0;
    // The entry at index (not owned; valid until the list is cleared or
    // recomputed); none outside the list.
    virtual CChangeEntry* GetChangeEntry(int index) = 0;
    virtual int GetChangeCount() = 0;
    // The first entry of the change list for the item key (not owned, valid as
    // GetChangeEntry's); none when the list has none. This walks the list; a folder
    // may answer from an index instead.
    virtual CChangeEntry* FindChangeEntry(const std::string& key) {
        for (int i = 0, count = GetChangeCount(); i < count; ++i) {
            CChangeEntry* entry = GetChangeEntry(i);
            if (entry != nullptr && entry->Key() == key) return entry;
        }
        return nullptr;
    }
    // Empties the change list, so the next PrepareChanges computes it anew.
    virtual bool ClearChanges() = 0;
    // The folder key: a default-folder code or the hexadecimal entry ID.
    virtual std::string GetKey() = 0;
    virtual std::string GetDisplayName() = 0;
    // Moves the item the key names to target; true (failures are traced).
    virtual bool MoveElement(const std::string& key, CAbstractVantroFolder* target) = 0;
    // "Email", "Contact", "Appointment", "Task", the kind name the device sent, or
    // the empty text.
    virtual std::string GetClassName() = 0;
    // Sets the class name (empty: derive it again from the folder's class).
    virtual void SetClassName(const std::string& className) = 0;
    // Marks the baseline to be discarded at the next computation.
    virtual void SetReset(bool reset) = 0;
    virtual bool IsValid() { return false; }
    // The sub-folder at index (owned by the session); none past the last one.
    virtual CAbstractVantroFolder* GetSubFolder(int /*index*/) { return nullptr; }
    virtual bool HasFolders() { return false; }
    // The sub-folder the key names (owned by the session); none when not found.
    virtual CAbstractVantroFolder* OpenSubFolder(const std::string& /*key*/) { return nullptr; }
    // Deletes the item the key names wherever it now lies; 1.
    virtual int DeleteElement(const std::string& key) = 0;
    // Picks the generation of the next snapshot (see the implementation); 0 when
    // snapshots carry none.
    virtual std::uint64_t PrepareSnapshot() { return 0; }
    // The file key of the snapshot: GetKey followed by "_temp" (and the generation
    // when one was picked).
    virtual std::string GetTempKey() = 0;

protected:
    CAbstractVantroFolder() = default;
};
