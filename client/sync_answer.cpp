// Applying the answer of a run: server keys of the device's items, store changes
// for the device, and afterwards the snapshots, id maps and AckStrings.
#include <unistd.h>

#include <cstdlib>
#include <set>

#include "client/answer_parser.h"
#include "client/client_log.h"
#include "client/sync_engine.h"
#include "client/value_forms.h"

namespace {

using namespace vantro;

// The folder of the session for an answer Folder's ServerID s and ClientID c.
SyncFolder* LookupFolder(SyncSession& session, const std::string& s, const std::string& c) {
    std::string wanted = s;
    auto mapped = session.folderIdMap.find(s);
    if (mapped != session.folderIdMap.end()) wanted = mapped->second;
    for (auto& folder : session.folders) {
        if (folder->ClientId() == wanted) return folder.get();
    }
    session.folderIdMap[s] = c;
    for (auto& folder : session.folders) {
        if (folder->ClientId() == c) return folder.get();
    }
    return nullptr;
}

long TestExitAfter() {
    const char* value = std::getenv(kTestExitVariable);
    return value ? ParseDecimal(value) : 0;
}

class AnswerApplier {
public:
    AnswerApplier(SyncSession& session, const std::atomic<bool>* stop, const SyncOptions& options)
        : session_(session), stop_(stop), options_(options), exitAfter_(TestExitAfter()) {}

    AnswerResult Apply(const ParsedAnswer& answer) {
        result_.whole = answer.whole;
        if (!answer.whole) {
            AddLogLine("Answer incomplete, nothing applied");
            return result_;
        }
        for (const std::string& text : answer.strayTexts) {
            AddLogLineF("Literal without field %s", text.c_str());
        }
        std::set<SyncFolder*> mapped;
        for (const AnswerMappingFolder& folder : answer.mappingFolders) {
            SyncFolder* target = LookupFolder(session_, folder.serverId, folder.clientId);
            if (!target) continue;
            ApplyMappings(folder, *target);
            mapped.insert(target);
        }
        for (SyncFolder* folder : mapped) folder->SaveIdMap();
        for (auto& folder : session_.folders) SettleSentItems(*folder);

        std::vector<std::string> acks;
        for (const AnswerChangeFolder& folder : answer.changeFolders) {
            SyncFolder* target = LookupFolder(session_, folder.serverId, folder.clientId);
            if (!target) continue;  // not acknowledged: the server keeps the changes
            bool whole = ApplyChanges(folder, *target);
            if (result_.stopped) break;
            if (whole) acks.insert(acks.end(), folder.ackStrings.begin(), folder.ackStrings.end());
        }
        for (auto& folder : session_.folders) {
            if (result_.stopped) {
                folder->SaveIdMap();  // what was applied stays known
                continue;
            }
            AddLogLine("Saving status");
            if (folder->SaveRunSnapshot()) ++result_.foldersSaved;
            folder->SaveIdMap();
        }
        if (!result_.stopped) {
            result_.applied = true;
            result_.ackStrings = std::move(acks);
        }
        return result_;
    }

private:
    bool StopNow() {
        if (stop_ && stop_->load()) result_.stopped = true;
        return result_.stopped;
    }

    // Counts an applied item; the test hook ends the process here.
    void Applied() {
        ++applied_;
        if (exitAfter_ > 0 && applied_ >= exitAfter_) ::_exit(137);
    }

    void ApplyMappings(const AnswerMappingFolder& folder, SyncFolder& target) {
        FolderRun& run = target.Run();
        for (const AnswerMapping& m : folder.mappings) {
            if (m.clientId.empty()) continue;
            long oid = ParseDecimal(m.clientId);
            if (!m.errorCode.empty()) {
                run.failed.insert(oid);
                ++result_.failed;
                AddLogLineF("Not stored on the desktop: %s %s (error %s); sent again next run",
                            target.KindName().c_str(), m.clientId.c_str(), m.errorCode.c_str());
                continue;
            }
            if (m.serverId.empty()) continue;
            target.RecordServerId(m.serverId, m.clientId);
            run.confirmed.insert(oid);
            ++result_.mappings;
        }
    }

    // Items that needed a key and got none are not taken as stored; the rest count
    // as the run's changes on the desktop.
    void SettleSentItems(SyncFolder& folder) {
        FolderRun& run = folder.Run();
        int unconfirmed = 0;
        for (const auto& [oid, sent] : run.sent) {
            if (run.failed.count(oid)) continue;
            if (sent.needsMapping && !run.confirmed.count(oid)) {
                run.failed.insert(oid);
                ++unconfirmed;
                continue;
            }
            ++(sent.asAdd ? run.desktop.added : run.desktop.changed);
        }
        if (unconfirmed > 0) {
            result_.failed += unconfirmed;
            AddLogLineF("%d %s items not confirmed by the desktop; sent again next run",
                        unconfirmed, folder.KindName().c_str());
        }
        run.desktop.deleted = static_cast<int>(run.sentDeletes.size());
        for (const auto& entry : run.sentDeletes) {
            for (const std::string& id : entry.second) folder.DropServerId(id);
        }
    }

    // Returns false when not every change was applied (the folder's AckString is
    // then kept back).
    bool ApplyChanges(const AnswerChangeFolder& changes, SyncFolder& folder) {
        FolderRun& run = folder.Run();
        bool whole = true;
        std::set<long> written;
        std::vector<const AnswerChange*> deletes;
        for (const AnswerChange& change : changes.changes) {
            if (change.change == kDelete) {
                deletes.push_back(&change);
                continue;
            }
            if (StopNow()) return false;
            if (DeletionHeld(folder, change.serverId)) {
                // Deleted here, the deletion held back: the desktop's copy must not
                // bring the item back, or the pending deletion would be lost.
                whole = false;
                continue;
            }
            auto item = folder.FindIncomingItem(change.record, change.serverId);
            if (!item || !item->HasItem()) {
                whole = false;
                continue;
            }
            bool isNew = item->GetOid() <= 0;
            std::string before = isNew ? std::string() : item->AllFieldsText();
            item->SetFields(change.record);
            bool changed = isNew || before != item->AllFieldsText();
            // An item that arrives as it is here is not written again.
            if (changed && !item->Item()->Save()) {
                AddLogLineF("Saving %s failed", folder.KindName().c_str());
                whole = false;
                continue;
            }
            long oid = item->GetOid();
            folder.JournalServerId(change.serverId, item->ClientId());
            run.received.insert(oid);
            written.insert(oid);
            if (changed) {
                ++(isNew ? run.handheld.added : run.handheld.changed);
                ++result_.itemsApplied;
                AddLogLineF("R %s - %s", folder.KindName().c_str(), item->MatchKey().c_str());
            } else {
                ++result_.itemsUnchanged;
            }
            Applied();
        }
        return ApplyDeletes(deletes, folder, written) && whole;
    }

    // True when serverId names an item deleted on the handheld whose deletion the
    // guard held back.
    static bool DeletionHeld(const SyncFolder& folder, const std::string& serverId) {
        const FolderRun& run = folder.Run();
        if (run.heldDeletes.empty() || serverId.empty()) return false;
        auto mapped = folder.ServerIdMap().find(serverId);
        return mapped != folder.ServerIdMap().end() &&
               run.heldDeletes.count(ParseDecimal(mapped->second)) > 0;
    }

    bool ApplyDeletes(const std::vector<const AnswerChange*>& deletes, SyncFolder& folder,
                      const std::set<long>& written) {
        FolderRun& run = folder.Run();
        std::vector<std::pair<std::string, long>> targets;  // server ID, local item
        for (const AnswerChange* change : deletes) {
            auto mapped = folder.ServerIdMap().find(change->serverId);
            if (change->serverId.empty() || mapped == folder.ServerIdMap().end()) continue;
            long oid = ParseDecimal(mapped->second);
            if (!folder.ItemForOid(oid)->HasItem()) {
                folder.DropServerId(change->serverId);  // gone here already
                continue;
            }
            targets.emplace_back(change->serverId, oid);
        }
        int count = static_cast<int>(targets.size());
        if (IsMassDelete(count, folder.ItemCount()) && !options_.allowMassDelete) {
            run.heldReceivedDeletes += count;
            AddLogLineF(
                "Mass delete held: %d of %d %s items deleted on the desktop are not deleted on "
                "the handheld; run skiff sync --allow-mass-delete to apply them",
                count, folder.ItemCount(), folder.Name().c_str());
            return false;
        }
        bool whole = true;
        auto reverse = folder.ReverseIdMap();  // every server ID naming a deleted item goes
        for (const auto& [serverId, oid] : targets) {
            if (StopNow()) return false;
            auto item = folder.ItemForOid(oid);
            std::string key = item->MatchKey();
            bool changedHere = run.sent.count(oid) && !run.received.count(oid);
            if (written.count(oid) || changedHere) {
                // Changed on the handheld, or just written from another desktop item:
                // kept; without the key it goes to the desktop again.
                folder.DropServerId(serverId);
                // Unless the desktop already stored the handheld's version afresh
                // (a new key came back for it), it is sent again next run.
                if (changedHere && !run.confirmed.count(oid)) run.failed.insert(oid);
                AddLogLineF("Kept %s - %s: deleted on the desktop, changed here",
                            folder.KindName().c_str(), key.c_str());
                continue;
            }
            if (!item->HasItem() || !item->Item()->Delete()) {
                whole = false;
                continue;
            }
            for (const std::string& name : reverse[std::to_string(oid)]) folder.DropServerId(name);
            run.deletedByAnswer.insert(oid);
            ++run.handheld.deleted;
            ++result_.deletesApplied;
            AddLogLineF("D %s - %s", folder.KindName().c_str(), key.c_str());
            Applied();
        }
        return whole;
    }

    SyncSession& session_;
    const std::atomic<bool>* stop_;
    SyncOptions options_;
    long exitAfter_;
    long applied_ = 0;
    AnswerResult result_;
};

}  // namespace

AnswerResult HandleAnswer(SyncSession& session, std::string_view answer,
                          const std::atomic<bool>* stop, const SyncOptions& options) {
    ParsedAnswer parsed = ParseAnswer(answer);
    return AnswerApplier(session, stop, options).Apply(parsed);
}

SyncReport MakeReport(const SyncSession& session) {
    SyncReport report;
    for (const auto& folder : session.folders) {
        const FolderRun& run = folder->Run();
        FolderReport f;
        f.name = folder->ReportName();
        f.handheld = run.handheld;
        f.desktop = run.desktop;
        f.heldHandheld = run.heldReceivedDeletes;
        f.heldDesktop = static_cast<int>(run.heldDeletes.size());
        report.push_back(f);
    }
    return report;
}
