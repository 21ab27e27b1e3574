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
// session, so a change list computed afterwards does not send them back, and the
// snapshot records them as they now are.
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

#include <map>
#include <string>
#include <vector>

#include "common/http/data_string.h"
#include "common/http/html_command.h"
#include "common/wbxml/wbxml.h"
#include "server/store/mapi_server.h"
#include "server/store/mapi_session.h"

class Settings;
class CChangeEntry;
struct CPocketFolder;

class CVantroRequest {
public:
    // Deepest sub-folder level followed when collecting and sending changes.
    static constexpr int kMaxFolderDepth = 64;

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
    // Reads an Add or Modify: kMapped (keys set) when a new item was stored, kFailed
    // when the item could not be stored, kNoMapping otherwise.
    // An item named by a ServerID that no longer exists is stored afresh and mapped
    // like a new one, so the device learns its new key. An item outside the
    // device's offered folders is passed over (kNoMapping, traced).
    enum class ReadResult { kNoMapping, kMapped, kFailed };
    // stored: the item was written to the store. refused (when given): why a part
    // of a stored item was not applied (empty when all of it was).
    ReadResult ReadElement(CAbstractVantroFolder* folder, std::string& clientKey,
                           std::string& serverKey, bool& stored, std::string* refused = nullptr);
    // True when the desktop changed the item since the device's baseline (an entry
    // of kind modified in the folder's change list).
    bool ChangedOnDesktop(CAbstractVantroFolder* folder, const std::string& key);
    void HandleDelete(CAbstractVantroFolder* folder);
    void HandleMove(CAbstractVantroFolder* folder);
    void HandleReadState(CAbstractVantroFolder* folder);
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
        int sentAdded = 0;
        int sentChanged = 0;
        int sentDeleted = 0;
    };
    FolderCounts& CountsOf(CAbstractVantroFolder* folder);
    // One live trace line per folder: "Folder %s: device added %d, changed %d,
    // deleted %d; sent added %d, changed %d, deleted %d".
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
    bool prepared_ = false;
};
