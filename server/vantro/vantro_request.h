// CVantroRequest: one Vantro request from the device's body to the answer document.
//
// The body is walked as a flat token sequence (start, text, end). Each handler reads
// the tokens after its own start tag: it acts on the texts of the children it knows
// (reading one more token, the child's end, after each), hands the start of a child
// it dispatches on to that child's handler, and ends at the first end token it does
// not consume, its own. An unknown child is passed over token by token, so its end
// token ends the enclosing handler.
//
// Who may do what: the session's current device is cleared when the request begins
// and set only by a successful Logon of this request (password checked by the
// device lookup). Without it, Sync, GetData and Acknlowledge do nothing but trace
// "No device!", and the answer is the four header bytes; after a refused Logon its
// status is 403, which devices that read only the body pass over.
//
// Reach: a device works only on its configured and default folders and their
// sub-folders (server/store/offered_folders.h); a refused folder or item is passed
// over with a live trace line and the rest of the request is handled.
//
// Two-way requests: the device's changes are applied where they stand, before the
// GetData that follows them. The items the device touched are recorded in the
// session, so a change list (computed before or after) does not send them back,
// and the snapshot records them as they now are; an item whose stored state then
// differs from what the device holds (a desktop change merged in, a field the
// server derived) goes back as Modify in this answer.
//
// Identity (docs/vantro-sync.md): every item a device adds is mapped by its
// ClientID in the device folder's ClientID map (server/syncstate/client_map.h), the
// ClientID also written on the item in the same save. A repeated Add, a Modify
// without ServerID and a Delete by ClientID reach the mapped item; an Add is paired
// with a desktop item by name only on a folder's first sync (Reset 1 in the
// request's Folder, no baseline, or a map set aside), only with an item not mapped
// to a ClientID of the same handheld store and not created or paired earlier in
// the request, never in a folder of class "Contact" or without Typ; a paired Add
// is answered Element { ClientID, ServerID, Matched "1" }.
//
// Changes as fields (server/vantro/field_merge.h): a device's Add or Modify is
// merged with the stored item field by field, the desktop winning a field both
// changed; each losing value goes to the device's sync.log and the live trace
// ("Conflict %s %s %s: handheld %s, desktop %s kept"). A cleared field (an empty
// element) clears the property; an element that would clear the message class is
// refused with Element { ClientID, ErrorCode "1" }.
//
// Test seam: server/vantro/test_crash_point.h ends the process at named points.
//
// Failures: store errors are swallowed by the store layer per item; an item that
// could not be saved gets Element { ClientID, ErrorCode } instead of a key. Any
// other exception inside a handler becomes a message box ("Crash", "Crash in Read
// Element"), which the program turns into an error.log entry and a live trace line;
// the answer built so far is still sent.
//
// One object per request, used by that request's thread. The caller serialises
// requests that share a session (see vantro_handlers.h).
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "common/base/limits.h"
#include "common/http/data_string.h"
#include "common/http/html_command.h"
#include "common/wbxml/wbxml.h"
#include "server/devices/sync_log.h"
#include "server/store/mapi_server.h"
#include "server/store/mapi_session.h"
#include "server/vantro/field_merge.h"

class Settings;
class CChangeEntry;
class CMobileMapiFolder;
struct CPocketFolder;

class CVantroRequest {
public:
    // Collecting and sending changes follows sub-folders down to kMaxFolderDepth.

    // server and session must outlive the request; settings supplies the data
    // folder and the protocol-trace switch.
    CVantroRequest(Settings& settings, CMobileMapiSession& session, CMobileMapiServer& server);

    // Handles the body (skipping its four header bytes) and writes the complete HTTP
    // answer into answer: status 200 ("403 Forbidden" after a refused Logon, with the
    // same body), "application/vantro.wbxml", the WBXML document.
    // Traces "Sending answer %d bytes". True.
    bool HandleVantroRequest(const CHTMLCommand& request, CDataString& answer);

    // The answer document (for tests).
    const CWBXML& Answer() const { return answer_; }

private:
    // Token walk.
    bool Next();
    bool IsStart(int32_t token) const;
    bool IsText(int32_t token) const;
    bool IsEnd() const;
    // After acting on a text: reads the child's end.
    void SkipChildEnd() { Next(); }

    void WalkTopLevel();
    void HandleLogon();
    void HandleAcknowledge();
    void HandleSync();
    bool PrepareDevice();
    void CollectFolderChanges(CAbstractVantroFolder* folder, int depth);
    void DetectMoves();
    void HandleFilter();
    void HandleFilterFolder();
    void HandleClientFolder();
    // One Folder of the device's changes, once resolved.
    struct ClientFolder {
        CAbstractVantroFolder* folder = nullptr;
        CMobileMapiFolder* mapiFolder = nullptr;  // the same folder, as a store folder
        std::string typ;                          // the kind name the device sent
        bool firstSync = false;                   // Reset 1, no baseline, or map set aside
        bool pairByName = false;                  // a first sync of a kind that pairs
    };
    // Reads an Add or Modify. kMapped (keys set) when the device learns the item's
    // key: a new item, one reached by its ClientID, one paired by name (matched),
    // or one stored afresh for a ServerID that names nothing any more; kFailed when
    // the item could not be stored or was refused; kNoMapping otherwise (an item
    // named by its ServerID, one outside the device's offered folders, traced).
    enum class ReadResult { kNoMapping, kMapped, kFailed };
    struct ItemOutcome {
        ReadResult result = ReadResult::kNoMapping;
        std::string clientKey;
        std::string serverKey;
        bool stored = false;   // the item was written to the store
        bool matched = false;  // paired by name with a desktop item
        bool reached = false;  // the item the change names was found or made
        // Why a part of a stored item was not applied (empty when all of it was).
        std::string refused;
    };
    ItemOutcome ReadElement(const ClientFolder& target, int32_t change);
    // The Add or Modify whose element tree is fields, applied as the top of this
    // file says. Raises CMAPIException on store errors.
    void ApplyDeviceItem(const ClientFolder& target, int32_t change,
                         const std::string& givenServerKey, const CWBXMLLiterals& fields,
                         ItemOutcome& outcome);
    // The fields of an item as MessageToXML writes them (empty when it cannot).
    CFieldValues ReadItemFields(CAbstractVantroElement& element);
    // Traces each conflict and keeps it for the device's sync.log (WriteConflicts,
    // once the request's changes are in the store).
    void LogConflicts(CAbstractVantroFolder* folder, const std::string& key,
                      const std::vector<CFieldConflict>& conflicts);
    void WriteConflicts();
    // True when the desktop changed the item since the device's baseline (an entry
    // of kind modified in the folder's change list).
    bool ChangedOnDesktop(CAbstractVantroFolder* folder, const std::string& key);
    // True when the desktop changed the item since it was last exchanged with the
    // device: its fields differ from the store's side of the ClientID map's
    // record, or, without a record, ChangedOnDesktop.
    bool ChangedSinceExchange(const ClientFolder& target, const std::string& key);
    void HandleDelete(const ClientFolder& target);
    void HandleMove(CAbstractVantroFolder* folder);
    void HandleReadState(CAbstractVantroFolder* folder);
    // True when the device holds the changed item exactly as the store does now
    // (the ClientID map's record of the last exchange, both sides alike, nothing
    // pending, equals the item's fields): a change the device made in an earlier
    // request, or one of a field the device does not see, needs no Modify.
    bool DeviceHoldsAsItIs(CAbstractVantroFolder* folder, CAbstractVantroElement& element);
    // The pending fields of an Add or Modify written into the answer from offset
    // from on: recorded in the folder's ClientID map for generation.
    void RecordSent(CAbstractVantroFolder* folder, const std::string& key, size_t from,
                    std::uint64_t generation);
    void HandleGetData();
    void HandleGetDataFolder();
    void DoSendFolder(CAbstractVantroFolder* folder, bool reset, int dayCount, bool subfolders,
                      int depth = 0);
    // Passes over the rest of the current element (its start already read).
    void SkipElement();
    bool HasDevice() const { return session_.CurrentDevice() != nullptr; }

    // What one folder received from the device and sent to it in this request,
    // traced when the answer is complete (see TraceFolderCounts).
    struct FolderCounts {
        std::string name;
        int deviceAdded = 0;
        int deviceChanged = 0;
        int deviceDeleted = 0;
        int deviceOther = 0;  // read states and moves
        // Changes that named an item as it already was (repeated after a lost
        // answer): nothing stored, but the folder's snapshot must take them in.
        int deviceRepeated = 0;
        int deviceMatched = 0;
        int conflicts = 0;
        int sentAdded = 0;
        int sentChanged = 0;
        int sentDeleted = 0;
    };
    FolderCounts& CountsOf(CAbstractVantroFolder* folder);
    // One live trace line per folder: "Folder %s: device added %d, changed %d,
    // deleted %d; sent added %d, changed %d, deleted %d", followed by
    // "; %d matched" and "; %d conflicts" when there were any.
    void TraceFolderCounts();

    Settings& settings_;
    CMobileMapiSession& session_;
    CMobileMapiServer& server_;

    CWBXML reader_;
    CWBXMLEvent event_;
    bool more_ = true;
    // A Logon of this request was refused: the answer goes out as 403 Forbidden
    // (same body), so a device can tell that nothing it sent was taken.
    bool logonRefused_ = false;
    bool logonAccepted_ = false;  // this request's Logon was accepted
    CWBXML answer_;

    std::string userName_;
    std::string password_;
    std::string deviceId_;
    std::string deviceName_;
    int kinds_ = 0;
    std::vector<CChangeEntry*> collected_;
    std::vector<CAbstractVantroFolder*> preparedFolders_;
    std::map<std::string, FolderCounts> counts_;  // by folder key
    std::vector<CSyncLogLine> conflicts_;         // for sync.log, in the order found
    bool prepared_ = false;
};
