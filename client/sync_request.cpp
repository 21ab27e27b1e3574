// Building the request body of a run.
#include <set>

#include "client/client_log.h"
#include "client/sync_engine.h"

namespace {

using namespace vantro;

// The Delete elements of a folder's device deletions, unless the guard holds them:
// Delete { ServerID } for an item the server knows by its key (from the snapshot's
// records, or mapped since the last snapshot), Delete { ClientID } for an item sent
// as Add whose key never came back. Returns the number of items whose deletion was
// sent.
int WriteDeletes(SyncFolder& folder, CWBXML& writer, const SyncOptions& options) {
    FolderRun& run = folder.Run();
    std::vector<std::pair<long, std::string>> byKey;
    std::vector<long> byClientId;
    std::set<long> handled;
    for (long oid : run.gone) {
        handled.insert(oid);
        std::string key = folder.KeyOf(oid);
        if (!key.empty()) {
            byKey.emplace_back(oid, key);
        } else if (folder.SentAdds().count(oid)) {
            byClientId.push_back(oid);
        }
    }
    for (const std::string& key : folder.GoneKeysOutsideSnapshot()) {
        long oid = folder.OidOfKey(key);
        if (handled.insert(oid).second) byKey.emplace_back(oid, key);
    }
    for (long oid : folder.SentAdds()) {
        if (!handled.count(oid) && !folder.Exists(oid)) byClientId.push_back(oid);
    }
    int count = static_cast<int>(byKey.size() + byClientId.size());
    if (IsMassDelete(count, run.snapshotRecords) && !options.allowMassDelete) {
        for (const auto& entry : byKey) run.heldDeletes.insert(entry.first);
        for (long oid : byClientId) run.heldDeletes.insert(oid);
        AddLogLineF(
            "Mass delete held: %d of %d %s items deleted on the handheld are not deleted on "
            "the desktop; run skiff sync --allow-mass-delete to send them",
            count, run.snapshotRecords, folder.Name().c_str());
        return 0;
    }
    for (const auto& [oid, key] : byKey) {
        writer.StartTag(0, kDelete);
        writer.WriteElement(0, kServerID, std::string_view(key));
        writer.EndTag();
        run.sentDeletes[oid] = key;
    }
    for (long oid : byClientId) {
        writer.StartTag(0, kDelete);
        writer.WriteElement(0, kClientID, std::string_view(folder.ClientIdOf(oid)));
        writer.EndTag();
        run.sentClientDeletes.insert(oid);
    }
    return count;
}

// One Add or Modify: an item the server knows goes as Modify { ServerID, ClientID }
// with the fields that differ from its snapshot record (every non-empty field when
// there is none); any other item as Add { ClientID } with every non-empty field.
void WriteItem(SyncFolder& folder, SyncItem& item, CWBXML& writer) {
    FolderRun& run = folder.Run();
    long oid = item.GetOid();
    std::string key = folder.KeyOf(oid);
    FolderRun::SentItem sent;
    sent.asAdd = key.empty();
    sent.needsMapping = key.empty();
    writer.StartTag(0, sent.asAdd ? kAdd : kModify);
    if (!sent.asAdd) writer.WriteElement(0, kServerID, std::string_view(key));
    writer.WriteElement(0, kClientID, std::string_view(folder.ClientIdOf(oid)));
    std::map<int, std::string> before;
    auto old = run.oldRecords.find(oid);
    if (!sent.asAdd && old != run.oldRecords.end() &&
        SnapshotFields(folder.Table(), old->second, before)) {
        item.WriteChangedFields(writer, before, &sent.fields, folder.Unanswered().Of(oid));
    } else {
        item.WriteFields(writer, false);
    }
    writer.EndTag();
    sent.snapshot = folder.SnapshotRecord(item);
    run.sent[oid] = std::move(sent);
}

}  // namespace

bool IsMassDelete(int deletions, int items) {
    return deletions > kMassDeleteMinimum && deletions * 2 > items;
}

std::vector<std::pair<std::string, std::string>> SyncRequestHeaders() {
    return {{"ContentType", "application/vantro"},
            {"Connection", "Keep-Alive"},
            {"Cache-Control", "no-cache"},
            {"Vantro-Version", "1.0"},
            {"User-Agent", "PocketPC"},
            {"Accept-Language", "de-de"}};
}

int BuildRequest(SyncSession& session, CWBXML& writer, const std::atomic<bool>* stop,
                 const SyncOptions& options) {
    writer.BeginDocument();
    writer.StartTag(0, kLogon);
    writer.WriteElement(0, kDeviceID, std::string_view(GetDeviceId()));
    writer.WriteElement(0, kUserName, std::string_view(session.user));
    writer.WriteElement(0, kPassword, std::string_view(session.password));
    writer.EndTag();
    if (!session.ackStrings.empty()) {
        writer.StartTag(0, kAcknlowledge);
        for (const std::string& ack : session.ackStrings) {
            writer.WriteElement(0, kAckString, std::string_view(ack));
        }
        writer.EndTag();
    }
    writer.StartTag(0, kSync);
    AddLogLineF("Syncing Folder %s - %d Elements", "", 0);
    int items = 0;
    for (auto& folder : session.folders) {
        AddLogLineF("Syncing Folder %s - %d Elements", folder->Name().c_str(), folder->ItemCount());
        writer.StartTag(0, kFolder);
        writer.WriteElement(0, kServerID, std::string_view(folder->ServerId()));
        writer.WriteElement(0, kClientID, std::string_view(folder->ClientId()));
        writer.WriteElement(0, kTyp, std::string_view(folder->KindName()));
        writer.WriteElement(0, kName, std::string_view(folder->Name()));
        writer.WriteIntElement(0, kIsDefault, folder->IsDefault());
        // The folder holds no mapping (its first sync, or its store is new): the
        // server may pair its items with the desktop's by name, once.
        if (folder->IsFirstRun() && folder->KeyCount() == 0) writer.WriteIntElement(0, kReset, 1);
        folder->BeginChanges(session.start);
        while (auto item = folder->NextChange()) {
            if (stop && stop->load()) {
                folder->EndChanges();
                return -1;
            }
            if (!item->HasItem()) continue;
            WriteItem(*folder, *item, writer);
            ++items;
        }
        folder->EndChanges();
        WriteDeletes(*folder, writer, options);
        writer.EndTag();
    }
    if (!session.folders.empty()) {
        writer.StartTag(0, kGetData);
        for (auto& folder : session.folders) {
            writer.StartTag(0, kFolder);
            writer.WriteElement(0, kServerID, std::string_view(folder->ClientId()));
            writer.WriteIntElement(0, kReset, folder->IsFirstRun() ? 1 : 0);
            writer.EndTag();
        }
        writer.EndTag();
    }
    writer.EndTag();
    return items;
}
