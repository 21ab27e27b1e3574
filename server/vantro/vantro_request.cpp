// The Vantro request walk: top level, Logon, Acknlowledge, Sync with its filter and
// the device's configured folders, and move detection.
#include "server/vantro/vantro_request.h"

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <exception>
#include <map>
#include <optional>
#include <ostream>

#include "common/http/html_answer.h"
#include "platform/win/message_box.h"
#include "server/config/live_trace.h"
#include "server/config/log_text.h"
#include "server/config/settings.h"
#include "server/devices/pocket_device.h"
#include "server/devices/sync_log.h"
#include "server/mapi/mapi_exception.h"
#include "server/mapi/write_batch_ptr.h"
#include "server/store/mapi_folder.h"
#include "server/vantro/ack_string.h"
#include "server/vantro/protocol_log.h"
#include "server/vantro/test_crash_point.h"
#include "server/vantro/vantro_tags.h"

using namespace vantro;

namespace {

// How much text one document's dump may put into wbxml.log.
constexpr size_t kMaxDumpTextBytes = 1024 * 1024;

// The dump of the first kMaxLoggedBodyBytes of document, itself at most
// kMaxDumpTextBytes long, and a line for each part left out.
void DumpForLog(CProtocolLog& log, std::string_view document) {
    CWBXML dumper;
    std::string_view shown = document.substr(0, std::min(document.size(), kMaxLoggedBodyBytes));
    log.LimitStream(kMaxDumpTextBytes);
    dumper.DumpDocument(log.Stream(), shown);
    log.Stream().flush();
    size_t dropped = log.StreamDropped();
    if (dropped > 0) log.Write("\n" + NotLoggedLine(dropped, "\n"));
    if (shown.size() < document.size()) {
        log.Write("[... " + std::to_string(document.size() - shown.size()) +
                  " more bytes of the document not shown]\n");
    }
}

}  // namespace

CVantroRequest::CVantroRequest(Settings& settings, CMobileMapiSession& session,
                               CMobileMapiServer& server)
    : settings_(settings), session_(session), server_(server) {}

bool CVantroRequest::Next() {
    if (!more_) {
        event_.EventKind = kWBXMLNoEvent;
        return false;
    }
    more_ = reader_.NextEvent(event_);
    return event_.EventKind != kWBXMLNoEvent;
}

bool CVantroRequest::IsStart(int32_t token) const {
    return event_.EventKind == kWBXMLStartTag && event_.codePage == kPage && event_.token == token;
}

bool CVantroRequest::IsText(int32_t token) const {
    return event_.EventKind == kWBXMLContent && event_.codePage == kPage && event_.token == token;
}

bool CVantroRequest::IsEnd() const { return event_.EventKind == kWBXMLEndTag; }

void CVantroRequest::SkipElement() {
    int depth = 1;
    while (depth > 0 && Next()) {
        if (event_.EventKind == kWBXMLStartTag) ++depth;
        if (event_.EventKind == kWBXMLEndTag) --depth;
    }
}

bool CVantroRequest::HandleVantroRequest(const CHTMLCommand& request, CDataString& answer) {
    session_.BeginRequest();
    reader_.SetDocument(request.Body(), request.BodyLength());
    answer_.BeginDocument(CWBXML::kAnswerCapacity);
    server_.logLines.clear();

    CProtocolLog log;
    if (settings_.ProtocolTrace() && log.Open(settings_.DataFolder())) {
        log.Write(CProtocolLog::EntryHead());
    }
    server_.mailWindow = 0;
    server_.taskWindow = 0;
    server_.calendarWindow = 0;
    server_.transportHeaders = 1;

    // Every store write of the request joins one transaction, committed before the
    // answer leaves: a crash before that loses the whole request, which the device
    // sends again; once the device has the answer, nothing of it is lost.
    std::optional<CWriteBatch> batch;
    try {
        batch.emplace();
    } catch (const CMAPIException& e) {
        AddLiveTraceF("Write batch not begun, items saved one by one: %s", e.what());
    }
    try {
        WalkTopLevel();
    } catch (...) {
        ShowMessageBox("Crash");
    }
    bool stored = true;
    if (batch) {
        HRESULT committed = batch->Commit();
        if (FAILED(committed)) {
            stored = false;
            AddLiveTraceF("Request not stored: %s", CMAPIException::ResultText(committed).c_str());
        }
        batch.reset();
    }
    if (stored) {
        TestCrashPoint("after-store-commit");
        WriteConflicts();
    } else {
        // Nothing of it is in the store: the ClientID maps keep what they held (their
        // markers stay, so the next request checks them against the items).
        session_.Exchange().Discard();
    }
    conflicts_.clear();
    try {
        CHTMLAnswer http;
        http.SetContentType("application/vantro.wbxml");
        if (logonRefused_) http.SetStatus(403, "Forbidden");
        // The device must not take anything of this answer as done: it sends its
        // changes again, and no AckString of it can be acknowledged.
        if (!stored) {
            http.SetStatus(503, "Service Unavailable");
            answer_.BeginDocument(CWBXML::kAnswerCapacity);
        }
        std::string_view document = answer_.Document().View();
        http.Body().AppendBytes(document.size(), document.data());
        http.Serialize(answer);
        if (log.IsOpen()) {
            // The documents are shown only to a device that logged on: before that,
            // anyone's bytes would fill the trace.
            if (logonAccepted_) {
                DumpForLog(log, request.BodyView());
                log.Write("****************** Answer ********************* \n");
                DumpForLog(log, document);
                log.LimitStream(kMaxLoggedBodyBytes);
                for (const std::string& line : server_.logLines) log.Stream() << line << '\n';
                log.Stream().flush();
            } else {
                log.Write("Request of " + std::to_string(request.BodyLength()) +
                          " bytes without an accepted log-on: not shown\n");
            }
            log.Close();
        }
        TraceFolderCounts();
        AddLiveTraceF("Sending answer %d bytes", static_cast<int>(document.size()));
    } catch (...) {
        ShowMessageBox("Crash");
    }
    session_.EndRequest();
    TestCrashPoint("before-answer");
    return true;
}

CVantroRequest::FolderCounts& CVantroRequest::CountsOf(CAbstractVantroFolder* folder) {
    FolderCounts& counts = counts_[folder->GetKey()];
    if (counts.name.empty()) counts.name = folder->GetDisplayName();
    return counts;
}

void CVantroRequest::TraceFolderCounts() {
    std::vector<CSyncFolderLine> lines;
    for (const auto& [key, c] : counts_) {
        std::string extra;
        if (c.deviceMatched > 0) extra += "; " + std::to_string(c.deviceMatched) + " matched";
        if (c.conflicts > 0) extra += "; " + std::to_string(c.conflicts) + " conflicts";
        AddLiveTraceF(
            "Folder %s: device added %d, changed %d, deleted %d; sent added %d, "
            "changed %d, deleted %d%s",
            c.name.c_str(), c.deviceAdded, c.deviceChanged, c.deviceDeleted, c.sentAdded,
            c.sentChanged, c.sentDeleted, extra.c_str());
        lines.push_back(CSyncFolderLine{c.name,
                                        {c.sentAdded, c.sentChanged, c.sentDeleted},
                                        {c.deviceAdded, c.deviceChanged, c.deviceDeleted},
                                        c.conflicts});
    }
    counts_.clear();
    // The device's sync.log: one line per folder of this sync.
    CPocketDevice* device = session_.CurrentDevice();
    if (device != nullptr && !lines.empty() &&
        !AppendSyncFolders(settings_.DataFolder(), device->Config()->DeviceID, lines)) {
        AddLiveTraceF("sync.log of device %s cannot be written",
                      device->Config()->DeviceID.c_str());
    }
}

void CVantroRequest::WalkTopLevel() {
    while (Next()) {
        if (IsStart(kSync)) {
            HandleSync();
        } else if (IsStart(kLogon)) {
            HandleLogon();
        } else if (IsStart(kAcknlowledge)) {
            HandleAcknowledge();
        }
    }
}

void CVantroRequest::HandleLogon() {
    while (Next() && !IsEnd()) {
        if (IsText(kDeviceID)) {
            const std::string& text = event_.value;
            size_t underscore = text.find('_');
            if (underscore == std::string::npos) {
                deviceId_ = text;
                deviceName_.clear();
            } else {
                deviceId_ = text.substr(0, underscore);
                std::string rest = text.substr(underscore + 1);
                deviceName_ = rest.substr(0, rest.find('/'));
            }
            SkipChildEnd();
        } else if (IsText(kUserName)) {
            userName_ = event_.value;
            SkipChildEnd();
        } else if (IsText(kPassword)) {
            password_ = event_.value;
            SkipChildEnd();
        }
    }
    // A refused log-on leaves no current device: later elements do nothing.
    if (session_.Logon(deviceId_, deviceName_, userName_, password_)) {
        logonAccepted_ = true;
    } else {
        logonRefused_ = true;
        logonAccepted_ = false;
    }
}

void CVantroRequest::HandleAcknowledge() {
    while (Next() && !IsEnd()) {
        if (!IsText(kAckString)) continue;
        std::string text = event_.value;
        SkipChildEnd();
        CPocketDevice* device = session_.CurrentDevice();
        if (device == nullptr) {
            AddLiveTrace("No device!");
            continue;
        }
        AckResult result = ApplyAckString(settings_.DataFolder(), device->Config()->DeviceID, text);
        if (result == AckResult::kRefused) AddLiveTraceF("AckString refused: %s", text.c_str());
        if (result == AckResult::kOlder)
            AddLiveTraceF("AckString %s names an older snapshot: nothing installed", text.c_str());
        if (result == AckResult::kNoSnapshot)
            AddLiveTraceF("AckString %s names no snapshot: nothing installed", text.c_str());
    }
}

void CVantroRequest::HandleSync() {
    prepared_ = false;
    bool stopped = false;
    try {
        while (!stopped && Next() && !IsEnd()) {
            if (IsStart(kFilter)) {
                HandleFilter();
            } else if (IsStart(kFolder)) {
                if (!prepared_) {
                    prepared_ = true;
                    if (!PrepareDevice()) {
                        stopped = true;  // the rest is passed over by the top-level walk
                        break;
                    }
                }
                HandleClientFolder();
            } else if (IsStart(kGetData)) {
                if (!prepared_) {
                    prepared_ = true;
                    PrepareDevice();
                }
                HandleGetData();
            }
        }
    } catch (...) {
        ShowMessageBox("Crash");
    }
    // The next request computes the configured folders' change lists anew.
    for (CAbstractVantroFolder* folder : preparedFolders_) folder->ClearChanges();
    preparedFolders_.clear();
    collected_.clear();
}

bool CVantroRequest::PrepareDevice() {
    std::shared_ptr<CPocketDevice> device = session_.CurrentDeviceShared();
    if (!device) {
        AddLiveTrace("No device!");
        return false;
    }
    for (CPocketFolder& folder : device->folders) folder.folderObject.reset();
    for (CPocketFolder& folder : device->folders) {
        folder.folderObject =
            std::make_shared<CMobileMapiFolder>(device.get(), &session_, folder.mapiFolder.Get());
        preparedFolders_.push_back(folder.folderObject.get());
        CollectFolderChanges(folder.folderObject.get(), 0);
    }
    DetectMoves();
    return true;
}

void CVantroRequest::CollectFolderChanges(CAbstractVantroFolder* folder, int depth) {
    if (folder == nullptr || !folder->IsValid()) return;
    std::string className = folder->GetClassName();
    int bit = 0;
    int window = 0;
    if (className == "Email") {
        bit = 1;
        window = server_.mailWindow;
    } else if (className == "Task") {
        bit = 4;
        window = server_.taskWindow;
    } else if (className == "Appointment") {
        bit = 8;
        window = server_.calendarWindow;
    } else if (className == "Contact") {
        bit = 2;
    }
    if (bit != 0 && (kinds_ & bit) != 0) {
        folder->PrepareChanges(window);
        int count = folder->GetChangeCount();
        for (int i = 0; i < count; ++i) {
            CChangeEntry* entry = folder->GetChangeEntry(i);
            if (entry == nullptr) continue;
            entry->SetFolder(folder);
            if (entry->GetKind() == kChangeNew || entry->GetKind() == kChangeDeleted) {
                collected_.push_back(entry);
            }
        }
    }
    if (className == "Email" && depth < kMaxFolderDepth && folder->HasFolders()) {
        for (int i = 0;; ++i) {
            CAbstractVantroFolder* sub = folder->GetSubFolder(i);
            if (sub == nullptr) break;
            CollectFolderChanges(sub, depth + 1);
        }
    }
}

void CVantroRequest::DetectMoves() {
    // Deleted entries by key, in collection order, so each new entry finds its
    // matches without scanning the whole list.
    std::multimap<std::string, CChangeEntry*> deleted;
    for (CChangeEntry* entry : collected_) {
        if (entry->GetKind() == kChangeDeleted) deleted.emplace(entry->Key(), entry);
    }
    for (CChangeEntry* added : collected_) {
        if (added->GetKind() != kChangeNew) continue;
        auto range = deleted.equal_range(added->Key());
        for (auto it = range.first; it != range.second; ++it) {
            CChangeEntry* gone = it->second;
            if (gone->GetKind() != kChangeDeleted) continue;
            gone->SetKind(kChangeNone);
            added->SetKind(kChangeMoved);
            added->SetSourceFolder(gone->GetFolder());
            added->SetDestinationPath(session_.GetFolderPath(added->GetFolder()));
            added->SetSourcePath(session_.GetFolderPath(gone->GetFolder()));
        }
    }
}

void CVantroRequest::HandleFilter() {
    while (Next() && !IsEnd()) {
        if (IsStart(kFolder)) HandleFilterFolder();
    }
}

void CVantroRequest::HandleFilterFolder() {
    std::string type;
    int days = 0;
    while (Next() && !IsEnd()) {
        if (IsText(kFolderType)) {
            type = event_.value;
            if (type == "Task") kinds_ |= 4;
            if (type == "Contact") kinds_ |= 2;
            if (type == "Email") kinds_ |= 1;
            if (type == "Appointment") kinds_ |= 8;
            SkipChildEnd();
        } else if (IsText(kFilter)) {
            days = std::atoi(event_.value.c_str());
            SkipChildEnd();
        } else if (event_.EventKind == kWBXMLContent && event_.codePage == kMailPage &&
                   event_.token == kTransportHeaders) {
            server_.transportHeaders = std::atoi(event_.value.c_str());
            SkipChildEnd();
        }
    }
    if (type == "Email") server_.mailWindow = days;
    if (type == "Task") server_.taskWindow = days;
    if (type == "Appointment") server_.calendarWindow = days;
}
