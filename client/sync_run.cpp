// The run on its thread, the Save command, and the data-folder lock between them.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdlib>

#include "client/client_log.h"
#include "client/http_transport.h"
#include "client/server_certificate_pin.h"
#include "client/store_identity.h"
#include "client/sync_engine.h"

namespace {

std::mutex gSinkMutex;
std::function<void(bool)> gRunStateSink;

void NotifyRunState(bool running) {
    std::function<void(bool)> sink;
    {
        std::lock_guard<std::mutex> lock(gSinkMutex);
        sink = gRunStateSink;
    }
    if (sink) {
        try {
            sink(running);
        } catch (...) {
        }
    }
}

// Exclusive lock on the data folder's lock file for the life of the object.
class DataFolderLock {
public:
    DataFolderLock() {
        fd_ = ::open((GetDataFolder() + "/skiff.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        locked_ = fd_ >= 0 && ::flock(fd_, LOCK_EX | LOCK_NB) == 0;
    }
    ~DataFolderLock() {
        if (fd_ >= 0) ::close(fd_);  // closing releases the lock
    }
    DataFolderLock(const DataFolderLock&) = delete;
    DataFolderLock& operator=(const DataFolderLock&) = delete;
    bool Locked() const { return locked_; }

private:
    int fd_ = -1;
    bool locked_ = false;
};

// Releases the connection-manager connection when the run ends, however it ends.
class NetworkConnection {
public:
    NetworkConnection() : handle_(OpenNetworkConnection()) {}
    ~NetworkConnection() { ReleaseNetworkConnection(handle_); }
    NetworkConnection(const NetworkConnection&) = delete;
    NetworkConnection& operator=(const NetworkConnection&) = delete;

private:
    uintptr_t handle_;
};

// Running flag and button text on, then off at the end of the scope.
class RunState {
public:
    RunState() { NotifyRunState(true); }
    ~RunState() {
        SetStatusText("");
        NotifyRunState(false);
    }
    RunState(const RunState&) = delete;
    RunState& operator=(const RunState&) = delete;
};

constexpr const char* kBusyText = "Sync in progress";

void ApplyAnswer(RunResult& result, SyncSession& session, HttpRequest& request,
                 const std::string& ackPath, const std::atomic<bool>* stop,
                 const SyncOptions& options) {
    // A stop after the request went out does not throw its answer away: the server
    // has acted on it (HandleAnswer records every key and then honours the stop).
    if (result.sent && request.answer.BodyLength() > 0) {
        int status = HttpStatusCode(request.answerBuffer.View());
        if (status != 200) {
            // An error page is no Vantro document; walking it would read noise as items.
            AddLogLineF("HTTP %d, nothing applied", status);
            result.error = "answer status " + std::to_string(status);
        } else if (request.answerComplete) {
            result.applied = HandleAnswer(session, request.answer.BodyView(), stop, options);
            result.stopped = result.applied.stopped;
            result.answered = result.applied.whole;
            if (!result.applied.whole) result.error = "answer incomplete";
            if (result.applied.refused) result.error = "answer refused";
            if (result.stopped) result.error = "stopped";
            if (result.applied.applied && !WriteAckStrings(ackPath, result.applied.ackStrings)) {
                AddLogLine("The acknowledgements could not be kept");
            }
        } else {
            AddLogLine("Answer incomplete, nothing applied");
            result.error = "answer incomplete";
        }
    } else if (result.sent) {
        result.error = "no answer";
    } else {
        // A certificate refused, or a handshake that failed, says why.
        result.error = request.tls.reason.empty() ? "server not reached" : request.tls.reason;
    }
    if (stop && stop->load()) {
        result.stopped = true;
        result.error = "stopped";
    }
}

void RunSteps(RunResult& result, const std::atomic<bool>* stop, const SyncOptions& options) {
    RunState state;
    ClientSettings settings = GetClientSettings();  // one consistent copy for the run
    SyncSession session;
    session.server = settings.server;
    session.user = settings.username;
    session.password = settings.password;

    PocketOutlookApplication app;
    bool loggedOn = app.Logon();
    if (!loggedOn) AddLogLineF("Pocket Outlook: %s", app.error().c_str());
    StoreCheck check = CheckStoreIdentity(GetDataFolder(), app.StoreIdentity());
    if (!check.error.empty()) {
        // Going on with files of another store would send its items' keys and
        // deletions for this one's.
        AddLogLineF("State files: %s", check.error.c_str());
        result.error = "state files: " + check.error;
        return;
    }
    if (check.setAside) {
        AddLogLine("The state files were made for another handheld store; set aside (.old)");
    }
    session.newHandheldStore = check.newStore;
    for (auto& folder : SyncFolder::MakeRunFolders(GetDataFolder())) {
        if (loggedOn && folder->Attach(app)) session.folders.push_back(std::move(folder));
    }
    result.foldersTakingPart = static_cast<int>(session.folders.size());
    if (session.folders.empty()) {
        result.error = "no folder available";
        result.reportLine = FormatReportLine(result.report);
        AddLogLine(result.reportLine);
        return;
    }
    session.start = std::chrono::steady_clock::now();
    std::string ackPath = GetDataFolder() + "/" + kAckFileName;
    session.ackStrings = ReadAckStrings(ackPath);
    // A server configured as "https://host:port" is reached over TLS.
    std::string url = ServerUrl(session.server) + "/" + session.path;
    HttpRequest request;
    request.headers = SyncRequestHeaders();
    request.pinnedFingerprint = KeptFingerprint(GetDataFolder(), session.server);
    CWBXML writer;
    int items = BuildRequest(session, writer, stop, options);
    if (items < 0) {
        result.stopped = true;
        result.error = "stopped";
        return;
    }
    result.itemsSent = items;
    result.acksSent = static_cast<int>(session.ackStrings.size());
    for (const auto& folder : session.folders) {
        result.deletesSent += static_cast<int>(folder->Run().sentDeletes.size());
    }
    request.body = writer.Document().ToString();
    // Known before the request goes out: a lost answer must not lose track of them.
    NoteRequestSent(session);
    SetStatusText("Sending request");
    result.sent = SendHttpRequest(url, request, "POST", stop, options.stoppedAnswerWait);
    if (request.tls.trust == TlsTrust::kFirstUse) {
        // Trust on first use: the certificate is shown, and from now on only it is taken.
        bool kept = KeepFingerprint(GetDataFolder(), session.server, request.tls.fingerprint);
        AddLogLine("Server certificate SHA-256 fingerprint " + request.tls.fingerprint +
                   (kept ? ": trusted from now on (compare it with corvel tls fingerprint)"
                         : ": could not be kept"));
    }
    // Test hook: a stop pressed the moment the request had gone out.
    std::atomic<bool> stoppedAfterSend{false};
    const char* hook = std::getenv(kTestStopVariable);
    if (result.sent && hook && *hook) {
        stoppedAfterSend = true;
        stop = &stoppedAfterSend;
    }
    // The server installs AckStrings before it writes new snapshots, so once sent
    // they are never sent again (see sync_engine.h).
    if (result.sent && !session.ackStrings.empty()) WriteAckStrings(ackPath, {});
    ApplyAnswer(result, session, request, ackPath, stop, options);
    if (result.applied.applied) ConfirmStoreIdentity(GetDataFolder());
    auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - session.start);
    AddLogLineF("%d Milliseconds", static_cast<int>(elapsed.count()));
    result.report = MakeReport(session);
    result.reportLine = FormatReportLine(result.report);
    AddLogLine(result.reportLine);
}

}  // namespace

void SetRunStateSink(std::function<void(bool running)> sink) {
    std::lock_guard<std::mutex> lock(gSinkMutex);
    gRunStateSink = std::move(sink);
}

RunResult RunSync(const std::atomic<bool>* stop, const SyncOptions& options) {
    RunResult result;
    try {
        DataFolderLock lock;
        if (!lock.Locked()) {
            result.error = kBusyText;
            AddLogLine(kBusyText);
            return result;
        }
        result.started = true;
        NetworkConnection connection;
        RunSteps(result, stop, options);
    } catch (const std::exception& e) {
        result.error = e.what();
        AddLogLineF("Sync ended: %s", e.what());
    } catch (...) {
        result.error = "unexpected failure";
    }
    return result;
}

bool SaveAllSnapshots(std::string* error) {
    auto fail = [error](const std::string& text) {
        if (error) *error = text;
        return false;
    };
    try {
        DataFolderLock lock;
        if (!lock.Locked()) return fail(kBusyText);
        PocketOutlookApplication app;
        if (!app.Logon()) return fail(app.error());
        StoreCheck check = CheckStoreIdentity(GetDataFolder(), app.StoreIdentity());
        if (!check.error.empty()) return fail("state files: " + check.error);
        bool ok = true;
        for (auto& folder : SyncFolder::MakeRunFolders(GetDataFolder())) {
            if (folder->Attach(app) && !folder->SaveSnapshot()) ok = false;
        }
        return ok ? true : fail("a snapshot could not be written");
    } catch (const std::exception& e) {
        return fail(e.what());
    }
}

SyncRunner::~SyncRunner() {
    stop_ = true;
    Wait();
}

bool SyncRunner::Start(const SyncOptions& options) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (running_) return false;
    if (worker_.joinable()) worker_.join();
    running_ = true;
    stop_ = false;
    worker_ = std::thread([this, options] {
        RunResult result = RunSync(&stop_, options);  // never throws
        {
            std::lock_guard<std::mutex> guard(mutex_);
            result_ = result;
        }
        running_ = false;
    });
    return true;
}

RunResult SyncRunner::Wait() {
    std::thread worker;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        worker.swap(worker_);
    }
    if (worker.joinable()) worker.join();
    std::lock_guard<std::mutex> lock(mutex_);
    return result_;
}
