// Applying the answer of a run: server keys of the device's items, store changes
// for the device, and afterwards the snapshots, id maps and AckStrings.
#include <unistd.h>

#include <cstdlib>
#include <set>

#include "client/answer_parser.h"
#include "client/client_log.h"
#include "client/item_keys.h"
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

// The first server key of the answer that is not well-formed, or null.
const std::string* MalformedKey(const ParsedAnswer& answer) {
    for (const AnswerMappingFolder& folder : answer.mappingFolders) {
        for (const AnswerMapping& m : folder.mappings) {
            if (!m.serverId.empty() && !IsWellFormedServerKey(m.serverId)) return &m.serverId;
        }
    }
    for (const AnswerChangeFolder& folder : answer.changeFolders) {
        for (const AnswerChange& change : folder.changes) {
            if (!IsWellFormedServerKey(change.serverId)) return &change.serverId;
        }
    }
    return nullptr;
}

// A text for the log: at most 60 bytes of it, quoted.
std::string Shown(const std::string& text) {
    return "'" + (text.size() > 60 ? text.substr(0, 57) + "..." : text) + "'";
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
        if (const std::string* key = MalformedKey(answer)) {
            // Such a text would end up in the id maps; an answer that names items so
            // is not from a server this client can follow.
            AddLogLineF("Answer refused, nothing applied: the server key %s is not well-formed",
                        Shown(*key).c_str());
            result_.whole = false;
            result_.refused = true;
            return result_;
        }
        for (const std::string& text : answer.strayTexts) {
            AddLogLineF("Literal without field %s", text.c_str());
        }
        // The keys first, and on disk before anything else is applied: whatever
        // happens later, no item the desktop stored is sent to it as new again.
        for (const AnswerMappingFolder& folder : answer.mappingFolders) {
            SyncFolder* target = LookupFolder(session_, folder.serverId, folder.clientId);
            if (target) ApplyMappings(folder, *target);
        }
        for (auto& folder : session_.folders) {
            SettleSentItems(*folder);
            folder->SaveIdMap();
            folder->SaveSentAdds();
        }

        std::vector<std::string> acks;
        for (const AnswerChangeFolder& folder : answer.changeFolders) {
            SyncFolder* target = LookupFolder(session_, folder.serverId, folder.clientId);
            if (!target) continue;  // not acknowledged: the server keeps the changes
            bool whole = ApplyChanges(folder, *target);
            if (result_.stopped) break;
            if (whole) acks.insert(acks.end(), folder.ackStrings.begin(), folder.ackStrings.end());
        }
        for (auto& folder : session_.folders) {
            DropDeletedKeys(*folder);
            if (result_.stopped) {
                folder->SaveIdMap();  // what was applied stays known
                continue;
            }
            AddLogLine("Saving status");
            if (folder->SaveRunSnapshot()) {
                ++result_.foldersSaved;
                // The desktop answered: it holds what every Modify carried.
                folder->Unanswered().Clear();
                if (!folder->SaveUnanswered())
                    AddLogLineF("%s: the list of unanswered changes could not be written",
                                folder->Name().c_str());
            }
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

    void NotStored(SyncFolder& folder, long oid) {
        FolderRun& run = folder.Run();
        if (run.failed.insert(oid).second && run.sent.count(oid)) ++result_.failed;
    }

    void ApplyMappings(const AnswerMappingFolder& folder, SyncFolder& target) {
        FolderRun& run = target.Run();
        for (const AnswerMapping& m : folder.mappings) {
            if (m.clientId.empty()) continue;
            long oid = target.OidOfClientId(m.clientId);
            if (oid <= 0 || (!run.sent.count(oid) && !target.SentAdds().count(oid))) {
                AddLogLineF("%s: answer for %s passed over: no such item was sent",
                            target.Name().c_str(), Shown(m.clientId).c_str());
                continue;
            }
            if (!m.errorCode.empty()) {
                NotStored(target, oid);
                target.DropSentAdd(oid);  // not stored: it goes again as a new Add
                AddLogLineF("Not stored on the desktop: %s %s (error %s); sent again next run",
                            target.KindName().c_str(), m.clientId.c_str(), m.errorCode.c_str());
                continue;
            }
            if (m.serverId.empty()) continue;
            if (target.MapKey(m.serverId, oid) == SyncFolder::MapResult::kKeyTaken) {
                // One key for two items (an older server pairs items by name): the
                // first keeps it, this one stays unmapped and goes again.
                NotStored(target, oid);
                AddLogLineF(
                    "Not stored on the desktop: %s %s was answered with the key %s, which "
                    "item %s holds; left unmapped",
                    target.KindName().c_str(), m.clientId.c_str(), m.serverId.c_str(),
                    target.ClientIdOf(target.OidOfKey(m.serverId)).c_str());
                continue;
            }
            run.confirmed.insert(oid);
            if (m.matched && run.sent.count(oid) && run.sent[oid].asAdd) ++run.desktop.matched;
            ++result_.mappings;
        }
    }

    // Items that needed a key and got none are not taken as stored; the rest count
    // as the run's changes on the desktop. Deletions by ClientID are done with.
    void SettleSentItems(SyncFolder& folder) {
        FolderRun& run = folder.Run();
        int unconfirmed = 0;
        for (const auto& [oid, sent] : run.sent) {
            if (run.failed.count(oid)) continue;
            if (sent.needsMapping && !run.confirmed.count(oid)) {
                NotStored(folder, oid);
                ++unconfirmed;
                continue;
            }
            ++(sent.asAdd ? run.desktop.added : run.desktop.changed);
        }
        if (unconfirmed > 0) {
            AddLogLineF("%d %s items not confirmed by the desktop; sent again next run",
                        unconfirmed, folder.KindName().c_str());
        }
        for (long oid : run.sentClientDeletes) folder.DropSentAdd(oid);
    }

    // The keys of the items whose deletion this run sent are dropped, except those
    // the desktop passed over and sent back.
    void DropDeletedKeys(SyncFolder& folder) {
        FolderRun& run = folder.Run();
        for (const auto& [oid, key] : run.sentDeletes) {
            if (run.keptKeys.count(key)) continue;
            if (folder.OidOfKey(key) == oid) folder.DropKey(key);
        }
        run.desktop.deleted =
            static_cast<int>(run.sentDeletes.size()) - static_cast<int>(run.keptKeys.size());
        run.desktop.kept = static_cast<int>(run.keptKeys.size());
    }

    // True when the key names an item deleted here whose deletion this run sent.
    static bool DeletionSent(const FolderRun& run, const std::string& key, long oid) {
        auto sent = run.sentDeletes.find(oid);
        return sent != run.sentDeletes.end() && sent->second == key;
    }

    // Conflicts: fields the run's Modify carried that the desktop's version replaced.
    void CountConflicts(SyncFolder& folder, SyncItem& item, long oid) {
        FolderRun& run = folder.Run();
        auto sent = run.sent.find(oid);
        if (sent == run.sent.end() || sent->second.asAdd || run.failed.count(oid)) return;
        size_t lost = 0;
        for (const auto& [tag, mine] : sent->second.fields) {
            std::string now = item.GetField(tag);
            if (now == mine) continue;
            ++run.conflicts;
            ++lost;
            const FieldDef* f = FindField(folder.Table(), tag);
            AddLogLineF("Conflict: %s %s %s: the desktop's %s kept, the handheld's %s replaced",
                        folder.KindName().c_str(), folder.ClientIdOf(oid).c_str(),
                        f ? f->name : "?", Shown(now).c_str(), Shown(mine).c_str());
        }
        // Every field it sent lost: the Modify changed nothing on the desktop.
        if (lost > 0 && lost == sent->second.fields.size()) --run.desktop.changed;
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
            long mappedOid = folder.OidOfKey(change.serverId);
            SyncFolder::Target how;
            auto item = folder.FindIncomingItem(change.record, change.serverId, how);
            if (!item || !item->HasItem()) {
                whole = false;
                continue;
            }
            bool isNew = item->GetOid() <= 0;
            std::string before = isNew ? std::string() : item->AllFieldsText();
            // The desktop sends the whole item: for an item both sides hold, a field
            // it does not carry is empty there.
            item->SetFields(change.record, how == SyncFolder::Target::kMapped);
            bool changed = isNew || before != item->AllFieldsText();
            // An item that arrives as it is here is not written again.
            if (changed && !item->Item()->Save()) {
                AddLogLineF("Saving %s failed", folder.KindName().c_str());
                whole = false;
                continue;
            }
            long oid = item->GetOid();
            if (how == SyncFolder::Target::kRecreated) {
                if (DeletionSent(run, change.serverId, mappedOid)) {
                    run.keptKeys.insert(change.serverId);
                    AddLogLineF("Kept %s - %s: deleted here, changed on the desktop",
                                folder.KindName().c_str(), item->MatchKey().c_str());
                }
                folder.DropKey(change.serverId);
            }
            folder.MapKey(change.serverId, oid, true);
            run.received.insert(oid);
            written.insert(oid);
            if (how == SyncFolder::Target::kMapped) CountConflicts(folder, *item, oid);
            if (changed) {
                ++(isNew ? run.handheld.added : run.handheld.changed);
                if (how == SyncFolder::Target::kMatched) ++run.handheld.matched;
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
    static bool DeletionHeld(SyncFolder& folder, const std::string& serverId) {
        const FolderRun& run = folder.Run();
        if (run.heldDeletes.empty()) return false;
        long oid = folder.OidOfKey(serverId);
        return oid > 0 && run.heldDeletes.count(oid) > 0;
    }

    bool ApplyDeletes(const std::vector<const AnswerChange*>& deletes, SyncFolder& folder,
                      const std::set<long>& written) {
        FolderRun& run = folder.Run();
        std::vector<std::pair<std::string, long>> targets;  // server key, local item
        for (const AnswerChange* change : deletes) {
            long oid = folder.OidOfKey(change->serverId);
            if (oid <= 0) continue;
            if (!folder.Exists(oid)) {
                folder.DropKey(change->serverId);  // gone here already
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
        for (const auto& [serverId, oid] : targets) {
            if (StopNow()) return false;
            auto item = folder.ItemForOid(oid);
            std::string key = item->MatchKey();
            bool changedHere = run.sent.count(oid) && !run.received.count(oid);
            // A change the desktop neither stored afresh (no new key came back) nor
            // failed to store is one it found none of the handheld's own (fields an
            // answer brought that was never acknowledged): its deletion stands.
            auto sent = run.sent.find(oid);
            if (changedHere && !sent->second.asAdd && !run.confirmed.count(oid) &&
                !run.failed.count(oid)) {
                changedHere = false;
                AddLogLineF("%s - %s: deleted on the desktop, the change sent was none of ours",
                            folder.KindName().c_str(), key.c_str());
            }
            // An item this answer maps to the very key it deletes (a local item holds
            // one key): its Add, or its change by ClientID, repeated one whose answer
            // was lost, unchanged since, and the desktop deleted the item meanwhile.
            // Its deletion stands too, and the desktop stored nothing of this run.
            if (changedHere && run.confirmed.count(oid) && !run.failed.count(oid)) {
                changedHere = false;
                int& counted = sent->second.asAdd ? run.desktop.added : run.desktop.changed;
                if (counted > 0) --counted;
                AddLogLineF("%s - %s: deleted on the desktop before its change was answered",
                            folder.KindName().c_str(), key.c_str());
            }
            if (written.count(oid) || changedHere) {
                // Changed on the handheld, or just written from the desktop: kept;
                // without the key it goes to the desktop again as new.
                folder.DropKey(serverId);
                // Unless the desktop already stored the handheld's version afresh
                // (a new key came back for it), it is sent again next run.
                if (changedHere && !run.confirmed.count(oid)) NotStored(folder, oid);
                ++run.handheld.kept;
                AddLogLineF("Kept %s - %s: deleted on the desktop, changed here",
                            folder.KindName().c_str(), key.c_str());
                continue;
            }
            if (!item->HasItem() || !item->Item()->Delete()) {
                whole = false;
                continue;
            }
            folder.DropKey(serverId);
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

void NoteRequestSent(SyncSession& session) {
    for (auto& folder : session.folders) {
        for (const auto& [oid, sent] : folder->Run().sent) {
            if (sent.asAdd) {
                folder->NoteSentAdd(oid);
                continue;
            }
            std::set<int> tags;
            for (const auto& entry : sent.fields) tags.insert(entry.first);
            folder->Unanswered().Note(oid, tags);
        }
        if (!folder->SaveUnanswered()) {
            AddLogLineF("%s: the list of unanswered changes could not be kept",
                        folder->Name().c_str());
        }
        if (!folder->SaveSentAdds()) {
            AddLogLineF("%s: the list of sent items could not be kept", folder->Name().c_str());
        }
    }
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
        f.conflicts = run.conflicts;
        for (long oid : run.failed) f.notStored += run.sent.count(oid) ? 1 : 0;
        report.folders.push_back(f);
    }
    report.newHandheldStore = session.newHandheldStore;
    return report;
}
