// The sync run: one POST of the device's changes to the desktop server, and the
// walk of its answer.
//
// Run states: idle -> running (Sync pressed; running flag set; button "Stop") ->
// idle (the run ended; button "Sync"; status text empty). One run at a time per data
// folder: the run, and the Save command, hold an exclusive lock on the file
// "skiff.lock" in the data folder, so a second run, or Save during a run, in this or
// another process, is refused instead of writing the same state files twice.
//
// The request: Logon { DeviceID, UserName, Password }, then Sync with one Folder
// { ServerID, ClientID, Typ, Name, IsDefault } per folder taking part, holding an Add
// (new item) or Modify (changed item) { ClientID, COLLECTION } per change found.
//
// The answer: Response sections carry Folder { ClientID, ServerID, Element {
// ClientID, ServerID } }: the server's keys of the device's new items, recorded in
// the folder's server-id map. From the first Sync on, every Folder { ServerID ...
// Element { Add|Modify { ServerID, COLLECTION } } } brings store items, which are
// applied to the PIM store; after each Element the id map is saved; after each such
// Folder the folder's snapshot is rewritten. An answer that is not complete is not
// applied at all.
//
// Stop: a stop request ends the run at the next item boundary (while the request is
// built, while the answer is awaited, or between applied items). A folder whose
// answer was not applied whole gets no new snapshot; mappings of items applied so far
// are saved.
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
#include "client/sync_folder.h"
#include "common/wbxml/wbxml.h"

struct SyncSession {
    std::string server;
    std::string path = "vantro";
    std::string user, password;
    std::vector<std::unique_ptr<SyncFolder>> folders;  // those taking part
    std::map<std::string, std::string> folderIdMap;    // folder server ID -> client ID
    std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
};

// The request headers, in the order they are sent.
std::vector<std::pair<std::string, std::string>> SyncRequestHeaders();

// Writes the request body into writer (BeginDocument is called here). Returns the
// number of items written; -1 when stop was set (the document is then unusable).
int BuildRequest(SyncSession& session, CWBXML& writer, const std::atomic<bool>* stop = nullptr);

struct AnswerResult {
    int itemsApplied = 0;  // store items written to the PIM store
    int mappings = 0;      // server keys recorded from Response sections
    int foldersSaved = 0;  // snapshots rewritten
    bool stopped = false;  // the walk ended early on a stop request
};

// Walks the answer body and applies it (see above).
AnswerResult HandleAnswer(SyncSession& session, std::string_view answer,
                          const std::atomic<bool>* stop = nullptr);

struct RunResult {
    bool started = false;  // the lock was had and the run went ahead
    int foldersTakingPart = 0;
    int itemsSent = 0;
    bool sent = false;      // a connection was made and the request written
    bool answered = false;  // a complete answer with a body came back
    bool stopped = false;
    AnswerResult applied;
    std::string error;  // why the run did not start or ended early
};

// One run on the calling thread, with the settings as they are now. Never throws.
RunResult RunSync(const std::atomic<bool>* stop = nullptr);

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
    bool Start();
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
