// Change scan, snapshot, incoming matching and server-id map of one folder.
#include "client/sync_folder.h"

#include <atomic>
#include <filesystem>

#include "client/client_log.h"
#include "client/item_keys.h"
#include "client/value_forms.h"

namespace {

// "tasks.txt" -> "tasks.sent".
std::string SentAddsPathFor(const std::string& idMapPath) {
    size_t dot = idMapPath.rfind('.');
    size_t slash = idMapPath.rfind('/');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return idMapPath + ".sent";
    return idMapPath.substr(0, dot) + ".sent";
}

// "tasks.txt" -> "tasks.unanswered".
std::string UnansweredPathFor(const std::string& idMapPath) {
    std::string sent = SentAddsPathFor(idMapPath);
    return sent.substr(0, sent.size() - 5) + ".unanswered";
}

}  // namespace

SyncFolder::SyncFolder(int kind, std::string clientId, std::string name, std::string snapshotPath,
                       std::string idMapPath)
    : table_(*TableForKind(kind)),
      clientId_(std::move(clientId)),
      name_(std::move(name)),
      snapshotPath_(std::move(snapshotPath)),
      idMapPath_(std::move(idMapPath)),
      sentPath_(SentAddsPathFor(idMapPath_)),
      unanswered_(UnansweredPathFor(idMapPath_)) {
    std::error_code ec;
    firstRun_ =
        !std::filesystem::exists(snapshotPath_, ec) || !std::filesystem::exists(idMapPath_, ec);
}

std::string SyncFolder::ReportName() const {
    switch (table_.kind) {
        case kKindContacts:
            return "Contacts";
        case kKindTasks:
            return "Tasks";
        default:
            return "Calendar";
    }
}

std::vector<std::unique_ptr<SyncFolder>> SyncFolder::MakeRunFolders(const std::string& data) {
    std::vector<std::unique_ptr<SyncFolder>> folders;
    folders.push_back(std::make_unique<SyncFolder>(kKindContacts, "-1", "Kontakte",
                                                   data + "/contacts.dat", data + "/contacts.txt"));
    folders.push_back(std::make_unique<SyncFolder>(kKindTasks, "-2", "Aufgaben",
                                                   data + "/tasks.dat", data + "/tasks.txt"));
    folders.push_back(std::make_unique<SyncFolder>(kKindAppointments, "-3", "Appointment",
                                                   data + "/appointment.dat",
                                                   data + "/appointment.txt"));
    return folders;
}

std::string SyncFolder::KindNameOf(int kind) {
    switch (kind) {
        case 1:
            return "Contacts";
        case 2:
            return "Task";
        case 3:
            return "Appointment";
        case 4:
            return "Journal";
        case 5:
            return "Email";
        case 6:
            return "Files";
        default:
            return "";
    }
}

bool SyncFolder::Attach(PocketOutlookApplication& app) {
    app_ = &app;
    folder_ = app.GetDefaultFolder(table_.pimFolder);
    store_ = app.StoreIdentity();
    ReadKeys();
    return folder_ != nullptr;
}

void SyncFolder::ReadKeys() {
    keys_.clear();
    keyOfOid_.clear();
    sentAdds_.clear();
    IdMap map;
    ReadIdMap(idMapPath_, map);
    int dropped = 0;
    for (const auto& [key, clientId] : map) {
        long oid = 0;
        std::string store;
        if (clientId.empty()) continue;  // a dropped key
        if (!IsWellFormedServerKey(key) || !ParseClientId(clientId, oid, store) ||
            (!store.empty() && store != store_)) {
            ++dropped;
            continue;
        }
        if (keyOfOid_.count(oid)) {
            // Several keys for one item (an older version took every key it was
            // given): the first stays, the others no longer name it.
            AddLogLineF("%s: server key %s dropped, item %ld holds %s", name_.c_str(), key.c_str(),
                        oid, keyOfOid_[oid].c_str());
            continue;
        }
        keys_[key] = {oid, store.empty() && !Exists(oid)};
        keyOfOid_[oid] = key;
    }
    if (dropped > 0)
        AddLogLineF("%s: %d id-map entries not readable, dropped", name_.c_str(), dropped);
    for (const std::string& line : ReadLineFile(sentPath_)) {
        long oid = OidOfClientId(line);
        if (oid > 0 && !keyOfOid_.count(oid)) sentAdds_.insert(oid);
    }
    unanswered_.Load([this](std::string_view clientId) { return OidOfClientId(clientId); });
}

std::unique_ptr<SyncItem> SyncFolder::NewItem() const {
    return std::make_unique<SyncItem>(table_, nullptr);
}

std::unique_ptr<SyncItem> SyncFolder::ItemForOid(long oid) {
    std::unique_ptr<PimItem> item = app_ ? app_->GetItemFromOid(oid) : nullptr;
    if (item && item->DefaultFolder() != table_.pimFolder) item.reset();
    auto result = std::make_unique<SyncItem>(table_, std::move(item));
    result->SetOid(oid);
    return result;
}

int SyncFolder::ItemCount() { return folder_ ? folder_->Items().Count() : 0; }

bool SyncFolder::SaveSnapshot(const std::string& path, const std::atomic<bool>* stop) {
    if (!folder_) return false;
    SnapshotWriter writer;
    if (!writer.Open(path.empty() ? snapshotPath_ : path)) return false;
    PimItems items = folder_->Items();
    for (int i = 1; i <= items.Count(); ++i) {
        if (stop && stop->load()) return false;
        std::unique_ptr<PimItem> pim = items.Item(i);
        if (!pim) continue;  // deleted meanwhile
        SyncItem item(table_, std::move(pim));
        std::string record = SnapshotRecord(item);
        writer.Add(static_cast<uint32_t>(item.GetOid()), record.data(), record.size());
    }
    return writer.Finish();
}

std::string SyncFolder::SnapshotRecord(const SyncItem& item) const {
    CWBXML document;
    document.BeginDocument(kSnapshotDocumentCapacity);
    item.WriteFields(document, true);
    return document.Document().ToString();
}

bool SyncFolder::SaveRunSnapshot() {
    if (!folder_) return false;
    if (!run_.scanned) return SaveSnapshot();
    SnapshotWriter writer;
    if (!writer.Open(snapshotPath_)) return false;
    auto add = [&writer](long oid, const std::string& record) {
        writer.Add(static_cast<uint32_t>(oid), record.data(), record.size());
    };
    // The record the run leaves for an item that was not written from the answer.
    auto settled = [this, &add](long oid) {
        auto sent = run_.sent.find(oid);
        if (sent != run_.sent.end() && !run_.failed.count(oid)) {
            add(oid, sent->second.snapshot);
            return;
        }
        auto old = run_.oldRecords.find(oid);
        if (old != run_.oldRecords.end()) add(oid, old->second);  // none for a new item
    };
    std::set<long> present;
    PimItems items = folder_->Items();
    for (int i = 1; i <= items.Count(); ++i) {
        long oid = items.OidAt(i);
        present.insert(oid);
        if (run_.received.count(oid)) {
            std::unique_ptr<PimItem> pim = items.Item(i);
            if (pim) add(oid, SnapshotRecord(SyncItem(table_, std::move(pim))));
        } else if (run_.sent.count(oid) || run_.oldRecords.count(oid)) {
            settled(oid);
        }  // an item made after the scan has no record yet
    }
    // Items gone now: deletions this run reported or applied leave no record; held
    // ones, and items deleted while the answer was awaited, keep theirs, so that the
    // next scan finds the deletion.
    std::set<long> reported(run_.gone.begin(), run_.gone.end());
    for (long oid : run_.heldDeletes) reported.erase(oid);
    auto keepGone = [&](long oid) {
        if (present.count(oid) || reported.count(oid) || run_.deletedByAnswer.count(oid)) return;
        present.insert(oid);
        settled(oid);
    };
    for (const auto& entry : run_.sent) keepGone(entry.first);
    for (const auto& entry : run_.oldRecords) keepGone(entry.first);
    return writer.Finish();
}

void SyncFolder::BeginChanges(std::chrono::steady_clock::time_point start) {
    start_ = start;
    run_ = FolderRun{};
    run_.scanned = true;
    changes_ = 0;
    seen_.clear();
    newItems_.clear();
    newPos_ = 0;
    newListBuilt_ = false;
    if (!snapshot_.Open(snapshotPath_)) BuildNewItemList();
}

void SyncFolder::EndChanges() {
    snapshot_.Close();
    newItems_.clear();
    newPos_ = 0;
    newListBuilt_ = true;
}

void SyncFolder::BuildNewItemList() {
    newListBuilt_ = true;
    if (!folder_) return;
    PimItems items = folder_->Items();
    for (int i = 1; i <= items.Count(); ++i) {
        long oid = items.OidAt(i);
        if (!seen_.count(oid)) newItems_.push_back(oid);
    }
}

std::unique_ptr<SyncItem> SyncFolder::NextChange() {
    while (true) {
        while (newPos_ < newItems_.size()) {
            auto item = ItemForOid(newItems_[newPos_++]);
            if (!item->HasItem()) continue;  // deleted since the list was made
            item->SetChangeState(kChangeAdded);
            ++changes_;
            return item;
        }
        if (newListBuilt_) return nullptr;
        uint32_t oid;
        std::string data;
        while (snapshot_.IsOpen()) {
            int before = snapshot_.RecordsRead();
            if (snapshot_.Next(oid, data) != SnapshotReader::kRecord) break;
            seen_.insert(static_cast<long>(oid));
            ++run_.snapshotRecords;
            auto item = ItemForOid(static_cast<long>(oid));
            if (!item->HasItem()) {
                run_.gone.push_back(static_cast<long>(oid));  // deleted on the device
                run_.oldRecords[static_cast<long>(oid)] = std::move(data);
                continue;
            }
            auto seconds = std::chrono::duration_cast<std::chrono::seconds>(
                               std::chrono::steady_clock::now() - start_)
                               .count();
            SetStatusText(name_ + " " + std::to_string(before) + " - " + std::to_string(changes_) +
                          " changed " + std::to_string(seconds) + " Seconds");
            bool equal = item->EqualsSnapshot(data);
            run_.oldRecords[static_cast<long>(oid)] = std::move(data);
            if (!equal || unanswered_.Of(static_cast<long>(oid)) != nullptr) {
                item->SetChangeState(kChangeModified);
                ++changes_;
                return item;
            }
        }
        snapshot_.Close();
        BuildNewItemList();
    }
}

std::unique_ptr<SyncItem> SyncFolder::FindIncomingItem(const FieldRecord& record,
                                                       const std::string& serverKey, Target& how) {
    if (!folder_) return nullptr;
    long mapped = OidOfKey(serverKey);
    if (mapped > 0) {
        auto item = ItemForOid(mapped);
        if (item->HasItem()) {
            how = Target::kMapped;
            return item;
        }
        how = Target::kRecreated;
        return std::make_unique<SyncItem>(table_, folder_->Items().Add());
    }
    how = Target::kNew;
    if (firstRun_) {
        if (!keyIndexBuilt_) {
            keyIndexBuilt_ = true;
            PimItems items = folder_->Items();
            for (int i = 1; i <= items.Count(); ++i) {
                std::unique_ptr<PimItem> pim = items.Item(i);
                if (!pim || keyOfOid_.count(pim->Oid())) continue;
                long oid = pim->Oid();
                SyncItem item(table_, std::move(pim));
                std::string key = item.MatchKey();
                if (!key.empty()) keyIndex_.emplace(key, oid);
            }
        }
        std::string key = IncomingMatchKey(table_, record);
        for (auto it = key.empty() ? keyIndex_.end() : keyIndex_.lower_bound(key);
             it != keyIndex_.end() && it->first == key;) {
            long oid = it->second;
            it = keyIndex_.erase(it);            // matched at most once
            if (keyOfOid_.count(oid)) continue;  // mapped meanwhile
            auto item = ItemForOid(oid);
            if (!item->HasItem()) continue;
            how = Target::kMatched;
            return item;
        }
    }
    return std::make_unique<SyncItem>(table_, folder_->Items().Add());
}

std::string SyncFolder::ClientIdOf(long oid) const { return MakeClientId(oid, store_); }

long SyncFolder::OidOfClientId(std::string_view clientId) const {
    long oid = 0;
    std::string store;
    if (!ParseClientId(clientId, oid, store)) return 0;
    return store.empty() || store == store_ ? oid : 0;
}

std::string SyncFolder::KeyOf(long oid) const {
    auto found = keyOfOid_.find(oid);
    return found == keyOfOid_.end() ? std::string() : found->second;
}

long SyncFolder::OidOfKey(const std::string& key) const {
    auto found = keys_.find(key);
    return found == keys_.end() ? 0 : found->second.oid;
}

SyncFolder::MapResult SyncFolder::MapKey(const std::string& key, long oid, bool journal) {
    if (!IsWellFormedServerKey(key) || oid <= 0) return MapResult::kKeyTaken;
    auto known = keys_.find(key);
    if (known != keys_.end()) {
        if (known->second.oid != oid) return MapResult::kKeyTaken;
        if (!known->second.legacy) return MapResult::kSame;
        known->second.legacy = false;
        if (journal) AppendIdMapEntry(idMapPath_, key, ClientIdOf(oid));
        return MapResult::kMapped;
    }
    auto earlier = keyOfOid_.find(oid);
    if (earlier != keyOfOid_.end()) {
        if (journal) AppendIdMapEntry(idMapPath_, earlier->second, "");
        keys_.erase(earlier->second);
    }
    keys_[key] = {oid, false};
    keyOfOid_[oid] = key;
    sentAdds_.erase(oid);
    if (journal) AppendIdMapEntry(idMapPath_, key, ClientIdOf(oid));
    return MapResult::kMapped;
}

void SyncFolder::DropKey(const std::string& key) {
    auto known = keys_.find(key);
    if (known == keys_.end()) return;
    keyOfOid_.erase(known->second.oid);
    keys_.erase(known);
}

std::vector<std::string> SyncFolder::GoneKeysOutsideSnapshot() {
    std::vector<std::string> gone;
    for (const auto& [key, entry] : keys_) {
        if (entry.legacy || seen_.count(entry.oid) || Exists(entry.oid)) continue;
        gone.push_back(key);
    }
    return gone;
}

IdMap SyncFolder::IdMapText() const {
    IdMap map;
    for (const auto& [key, entry] : keys_) {
        map[key] = entry.legacy ? std::to_string(entry.oid) : ClientIdOf(entry.oid);
    }
    return map;
}

bool SyncFolder::SaveIdMap() const { return WriteIdMap(idMapPath_, IdMapText()); }

bool SyncFolder::SaveSentAdds() const {
    std::vector<std::string> lines;
    for (long oid : sentAdds_) lines.push_back(ClientIdOf(oid));
    return WriteLineFile(sentPath_, lines);
}

bool SyncFolder::SaveUnanswered() const {
    return unanswered_.Save([this](long oid) { return ClientIdOf(oid); });
}
