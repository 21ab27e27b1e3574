// CRequestExchange: what one Vantro request exchanges with its device beyond the
// store itself: the ClientID maps of the device's folders (client_map.h), the
// items whose merged state goes back to the device in this answer, the items
// created or paired by name in this request, and the folders whose map had to be
// set aside.
//
// Lifetime: the session owns one; Begin at the start of every request, Save before
// the answer leaves (the maps are written then, their markers removed). A map the
// last request left as its index file holds it (written, or read and unchanged) is
// kept with the file's stamp: the next request of the same device takes it again
// instead of reading the file, as long as the file has that stamp and no marker
// lies beside it (the console's reset removes the files; any other writer replaces
// the file, which gives it a new stamp). Kept maps are those of one device.
//
// Thread use: the request thread; the session runs one request at a time.
#pragma once

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "server/config/settings_file.h"
#include "server/syncstate/client_map.h"

class CMobileMapiFolder;

class CRequestExchange {
public:
    // A new request of deviceId with its state files in dataFolder: everything of
    // the last request is dropped, except the maps kept for the same device (an
    // empty deviceId, before the log-on, keeps them for the one that follows).
    void Begin(const std::string& deviceId, const std::string& dataFolder);

    // The ClientID map of folder, loaded at its first use in the request (or the
    // last request's, kept while its file is unchanged). A marker
    // left by a request that did not finish makes one pass over the folder for the
    // item properties; a map that could not be read is set aside (the folder then
    // counts as on its first sync, MapSetAside). Every answer the device has
    // acknowledged (the generation of the folder's baseline) confirms the fields
    // it sent. None without a device, an open folder or a folder key; store errors
    // during the pass leave the map as the index had it (traced).
    CClientMap* MapOf(CMobileMapiFolder& folder);
    // Before a store write that may change folder's map: its marker. False (traced)
    // when the marker cannot be written; the caller then leaves the store alone.
    bool BeforeStoreWrite(CMobileMapiFolder& folder);
    bool MapSetAside(const std::string& folderKey) const { return setAside_.count(folderKey) != 0; }

    // An item the device changed whose stored state differs from what the device
    // holds after its change: it goes back to the device as Modify in this answer.
    void NoteEcho(const std::string& folderKey, const std::string& itemKey);
    bool IsEcho(const std::string& itemKey) const;
    // The echoed items of a folder, in the order noted.
    const std::vector<std::string>& EchoesOf(const std::string& folderKey) const;

    // Items created or paired by name in this request: never the target of a
    // later name match in it.
    void NoteClaimed(const std::string& itemKey) { claimed_.insert(itemKey); }
    bool Claimed(const std::string& itemKey) const { return claimed_.count(itemKey) != 0; }

    // Writes every map that changed (or was marked) and removes its marker; a map
    // that cannot be written keeps its marker (traced, reported to error.log), so
    // the next request rebuilds it from the items.
    void Save();
    // Forgets the maps of this request unwritten (the store did not take its
    // changes): their files stay as they were, markers included, so the next
    // request rebuilds them from the items.
    void Discard() {
        maps_.clear();
        savedStamps_.clear();
    }

private:
    // A map left by an earlier request as its index file held it, and that file's stamp.
    struct KeptMap {
        std::unique_ptr<CClientMap> map;
        CFileStamp stamp;
    };

    std::string deviceId_;
    std::string dataFolder_;
    // Moves the kept map of key into slot when it still is what its file holds:
    // same device and data folder, the same index stamp, no marker. A kept map not
    // taken is dropped. True when slot got it.
    bool TakeKept(const std::string& key, std::unique_ptr<CClientMap>& slot);

    std::map<std::string, std::unique_ptr<CClientMap>> maps_;  // by folder key
    // The index stamps of the maps of this request that Save left as their files
    // hold them, by folder key.
    std::map<std::string, CFileStamp> savedStamps_;
    std::map<std::string, KeptMap> kept_;  // by folder key
    std::string keptDeviceId_;             // and the device and data folder they belong to
    std::string keptDataFolder_;
    std::set<std::string> setAside_;
    std::map<std::string, std::vector<std::string>> echoes_;  // folder key -> items
    std::set<std::string> echoKeys_;
    std::set<std::string> claimed_;
};
