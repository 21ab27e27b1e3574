// Which store entries a device may reach: the folders its user's record lists (the
// device's configured folders; one listed by a default code is that default
// folder), and the sub-folders of those whose record says so ("Unterordner"), with
// the items they hold. A default folder the record does not list is not offered. Every operation
// the protocol performs on an existing folder or item by key asks here first; a refused one is
// passed over with a live trace line.
//
// The checks walk up from a folder through PR_PARENT_ENTRYID, at most
// kMaxFolderDepth levels, and stop at the top of the personal folders.
// Store errors count as "not offered" (for items: as missing when the item itself
// cannot be opened).
//
// Thread use: reads the device record and opens entries through its MAPI session;
// call it from the thread that uses the device record (the store serialises its
// own calls).
#pragma once

#include <string>

class CPocketDevice;

// Where an item named by a key lies for a device.
enum class EntryPlace {
    kMissing,  // the key names no item the device's session can open
    kOffered,  // the item lies in an offered folder or a sub-folder of one
    kRefused,  // the item exists but lies outside the offered folders
};

// True when the folder whose entry ID is folderId (raw bytes) is one of the device's
// configured folders, or a sub-folder of one that takes its sub-folders. False for
// an empty ID, a folder that cannot be opened, or any other folder.
bool IsFolderOffered(const CPocketDevice& device, const std::string& folderId);

// The same for a folder named by its key in upper- or lower-case hexadecimal; false
// for a key that is not hexadecimal.
bool IsFolderKeyOffered(const CPocketDevice& device, const std::string& folderKey);

// Where the item whose entry ID the hexadecimal itemKey spells now lies: its
// current parent folder decides (an item moved on the desktop is judged where it
// is now).
EntryPlace LocateItem(const CPocketDevice& device, const std::string& itemKey);

// True when the item whose entry ID the hexadecimal itemKey spells exists and lies
// in a folder offered to the device (LocateItem gives kOffered).
bool IsItemOffered(const CPocketDevice& device, const std::string& itemKey);
