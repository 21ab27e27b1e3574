// The sync run: one POST of the device's changes to the desktop server, and the
// walk of its answer. How the two sides keep one item one item is written down in
// docs/vantro-sync.md; this is the handheld's part of it.
//
// Run states: idle -> running (Sync pressed; running flag set; button "Stop") ->
// idle (the run ended; button "Sync"; status text empty). One run at a time per data
// folder: the run, and the Save command, hold an exclusive lock on the file
// "skiff.lock" in the data folder, so a second run, or Save during a run, in this or
// another process, is refused instead of writing the same state files twice.
//
// Before anything else the run checks that the state files were made for this PIM
// store (store_identity.h); when they were not, they are set aside and the run is
// the first sync of a new handheld store.
//
// The request: Logon { DeviceID, UserName, Password }; Acknlowledge { AckString ... }
// with the AckStrings kept from the last applied answer (file "acknowledge.txt" in
// the data folder), when there are any; then Sync with one Folder { ServerID,
// ClientID, Typ, Name, IsDefault[, Reset 1 on the folder's first run while it holds
// no key] } per folder
// taking part, holding the changes found since its snapshot: an item without a
// known server key as Add { ClientID, COLLECTION with every non-empty field }, an
// item with one as Modify { ServerID, ClientID, COLLECTION with the fields that
// differ from its snapshot record, a cleared one as an empty element }, and an item
// gone from the PIM store as Delete { ServerID } when its key is known, or as
// Delete { ClientID } when it was sent as Add and its key never came back (without
// either the deletion is not reported). ClientIDs are "<object id>@<store
// identity>" (item_keys.h). After the folders, GetData { Folder { ServerID
// "-1"|"-2"|"-3", Reset } ... } asks for the store's changes of each folder taking
// part; Reset is 1 on a folder's first run (its snapshot or id-map file missing),
// else 0. Right before the request goes out, the items sent as Add are added to each
// folder's list of sent Adds. The pending AckStrings are dropped once a request
// carrying them was written whole: the server installs them before it writes new
// snapshots, so sending one again later could install a snapshot whose answer
// never arrived; not acknowledging only makes the server send the same changes again.
//
// The answer is first read whole (answer_parser.h); one that is not whole is not
// applied at all, nor is one that names an item by a server key that is not
// well-formed (refused). Then, in this order:
//   1. Response mappings: server key -> item into the folder's id map (a key holds
//      one item and an item one key: a key already held by another item leaves
//      this one unmapped, and it is not taken as stored); an Element { ClientID,
//      ErrorCode } marks the item as not stored (no mapping, its snapshot record is
//      not rewritten, so it goes again). An Add that got neither is not taken as
//      stored either. The id maps and lists of sent Adds are saved.
//   2. Store changes, folder by folder: Add and Modify are written to the local item
//      the server key names (every field of the kind the desktop carries and the
//      element does not hold becomes empty: the desktop sends whole items); a new
//      key goes to a new item, or, on a folder's first run only, to the first local
//      item with the same match key that holds no key; a key whose item is gone here
//      gets a new item (the desktop kept an item deleted here because it changed
//      there: counted as kept). An item whose fields all equal the local ones is not
//      written. The mapping is appended to the id-map file at once. A field that
//      this run's Modify sent and the desktop's version replaces is a conflict the
//      desktop won (logged, counted). An item whose deletion on the handheld the
//      guard held back is not brought back. Then Delete removes the local item its
//      ServerID names and the key (nothing when none is mapped). A Delete of an item
//      this run sent as changed, or that the answer just wrote, deletes nothing and
//      only drops the key (the changed item goes to the server again as new).
//   3. Every folder taking part gets its snapshot rewritten (folder_run.h) and its
//      id map saved; the AckStrings of every store-changes folder applied whole
//      become the pending AckStrings for the next request.
// An item that could not be written keeps its folder's AckString back, so the server
// sends the folder's changes again. A stop between items writes no snapshot and no
// AckString (the id maps keep what was applied); the next run then sends and
// receives the same changes again. Folders of the answer that the session does not
// have are passed over and not acknowledged.
//
// Mass-delete guard: when a folder's deletions would remove more than half of the
// items on the other side and more than kMassDeleteMinimum items (device deletions
// measured against the records of the folder's snapshot, answer deletions against
// the folder's items now), none of them are sent or applied unless the run allows
// it (SyncOptions::allowMassDelete). Held device deletions keep their snapshot
// records, held answer deletions keep the folder's AckString back, so both come
// again in the next run. The log says so, and the sync report counts them.
//
// The run's log ends with the sync report line (sync_report.h).
//
// Test hook: when the environment variable SKIFF_TEST_EXIT_AFTER_APPLIED holds a
// number N > 0, the process ends with _exit(137) right after the N-th item of an
// answer was applied (written to or deleted from the PIM store, or found unchanged,
// its id-map line appended), as if the client had been killed in the middle of
// applying. When SKIFF_TEST_STOP_AFTER_SEND is set (not empty), the run behaves as
// if a stop was requested right after its request went out.
//
// Stop: a stop request before the request has gone out ends the run at once (while
// the request is built or the connection made). Once it has gone out, the server
// acts on it whatever the handheld does, so the answer is still read (a stop cuts
// the wait only after kStoppedAnswerWait without a byte) and its server keys are
// recorded; the store changes are then applied up to the next item boundary and the
// run ends.
#pragma once

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "client/client_settings.h"
#include "client/http_transport.h"
#include "client/sync_folder.h"
#include "client/sync_report.h"
#include "common/wbxml/wbxml.h"

struct SyncSession {
    std::string server;
    std::string path = "vantro";
    std::string user, password;
    std::vector<std::unique_ptr<SyncFolder>> folders;  // those taking part
    std::map<std::string, std::string> folderIdMap;    // folder server ID -> client ID
    std::vector<std::string> ackStrings;               // sent in Acknlowledge
    bool newHandheldStore = false;  // the state files were made for another PIM store
    std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
};

constexpr int kMassDeleteMinimum = 20;
constexpr const char* kTestExitVariable = "SKIFF_TEST_EXIT_AFTER_APPLIED";
constexpr const char* kTestStopVariable = "SKIFF_TEST_STOP_AFTER_SEND";

struct SyncOptions {
    bool allowMassDelete = false;  // send and apply deletions the guard would hold
    // The longest wait for the next byte of the answer after a stop request.
    std::chrono::milliseconds stoppedAnswerWait = kStoppedAnswerWait;
};

// True when deleting `deletions` of `items` items is a mass deletion.
bool IsMassDelete(int deletions, int items);

// The request headers, in the order they are sent.
std::vector<std::pair<std::string, std::string>> SyncRequestHeaders();

// Writes the request body into writer (BeginDocument is called here) and notes in
// each folder's Run() what it sent. Returns the number of Add and Modify elements
// written; -1 when stop was set (the document is then unusable).
int BuildRequest(SyncSession& session, CWBXML& writer, const std::atomic<bool>* stop = nullptr,
                 const SyncOptions& options = {});

struct AnswerResult {
    bool whole = false;      // the answer was read whole (otherwise nothing was applied)
    bool refused = false;    // whole, but naming an item by a malformed key: not applied
    bool applied = false;    // applied completely: snapshots and AckStrings written
    int itemsApplied = 0;    // store items written to the PIM store (new or changed)
    int itemsUnchanged = 0;  // store items that arrived as they are here: not written
    int deletesApplied = 0;
    int mappings = 0;                     // server keys recorded from Response sections
    int failed = 0;                       // items the server did not take (error or no key)
    int foldersSaved = 0;                 // snapshots rewritten
    bool stopped = false;                 // the walk ended early on a stop request
    std::vector<std::string> ackStrings;  // to acknowledge in the next request
};

// Adds the items of the built request that went as Add to each folder's list of
// sent Adds and saves the lists (a log line when one cannot be saved).
void NoteRequestSent(SyncSession& session);

// Reads the answer body and applies it (see above).
AnswerResult HandleAnswer(SyncSession& session, std::string_view answer,
                          const std::atomic<bool>* stop = nullptr, const SyncOptions& options = {});

// The report of the session's folders after a run.
SyncReport MakeReport(const SyncSession& session);

struct RunResult {
    bool started = false;  // the lock was had and the run went ahead
    int foldersTakingPart = 0;
    int itemsSent = 0;
    int deletesSent = 0;
    int acksSent = 0;
    bool sent = false;      // a connection was made and the request written
    bool answered = false;  // a complete, whole answer came back
    bool stopped = false;
    AnswerResult applied;
    SyncReport report;
    std::string reportLine;  // the last log line of the run
    std::string error;       // why the run did not start or ended early
};

// One run on the calling thread, with the settings as they are now. Never throws.
RunResult RunSync(const std::atomic<bool>* stop = nullptr, const SyncOptions& options = {});

// The Save command: writes the snapshot of every available folder; sends nothing.
// False (with error) when a run holds the data folder or the PIM store is unavailable.
bool SaveAllSnapshots(std::string* error = nullptr);

// Called with true when a run starts and false when it ends (the window sets its
// button text "Stop" / "Sync"). Called on the run's thread.
void SetRunStateSink(std::function<void(bool running)> sink);

// Starts runs on a worker thread for the window and the command line. Thread-safe.
class SyncRunner {
public:
    SyncRunner() = default;
    ~SyncRunner();  // asks a running run to stop and waits for it
    SyncRunner(const SyncRunner&) = delete;
    SyncRunner& operator=(const SyncRunner&) = delete;

    // Starts a run unless one is in progress; false (and nothing else) when one is.
    bool Start(const SyncOptions& options = {});
    // Asks the running run to stop at the next item boundary.
    void Stop() { stop_ = true; }
    bool IsRunning() const { return running_; }
    // Waits for the current run (if any) and returns its result.
    RunResult Wait();

private:
    std::mutex mutex_;
    std::thread worker_;
    std::atomic<bool> running_{false};
    std::atomic<bool> stop_{false};
    RunResult result_;
};
