// Building the request body of a run.
#include "client/client_log.h"
#include "client/sync_engine.h"

namespace {

using namespace vantro;

// The Delete elements of a folder's device deletions, unless the guard holds them.
// Returns the number of items whose deletion was sent.
int WriteDeletes(SyncFolder& folder, CWBXML& writer,
                 const std::map<std::string, std::vector<std::string>>& reverse,
                 const SyncOptions& options) {
    FolderRun& run = folder.Run();
    std::vector<std::pair<long, const std::vector<std::string>*>> known;
    for (long oid : run.gone) {
        auto ids = reverse.find(std::to_string(oid));
        if (ids != reverse.end()) known.emplace_back(oid, &ids->second);
    }
    int count = static_cast<int>(known.size());
    if (IsMassDelete(count, run.snapshotRecords) && !options.allowMassDelete) {
        for (const auto& entry : known) run.heldDeletes.insert(entry.first);
        AddLogLineF(
            "Mass delete held: %d of %d %s items deleted on the handheld are not deleted on "
            "the desktop; run skiff sync --allow-mass-delete to send them",
            count, run.snapshotRecords, folder.Name().c_str());
        return 0;
    }
    for (const auto& [oid, ids] : known) {
        for (const std::string& id : *ids) {
            writer.StartTag(0, kDelete);
            writer.WriteElement(0, kServerID, std::string_view(id));
            writer.EndTag();
        }
        run.sentDeletes[oid] = *ids;
    }
    return count;
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
        auto reverse = folder->ReverseIdMap();
        FolderRun& run = folder->Run();
        folder->BeginChanges(session.start);
        while (auto item = folder->NextChange()) {
            if (stop && stop->load()) {
                folder->EndChanges();
                return -1;
            }
            if (!item->HasItem()) continue;
            std::string clientId = item->ClientId();
            auto ids = reverse.find(clientId);
            const std::string* serverId =
                ids != reverse.end() && !ids->second.empty() ? &ids->second.front() : nullptr;
            FolderRun::SentItem sent;
            sent.asAdd = !serverId && item->ChangeState() == kChangeAdded;
            sent.needsMapping = !serverId;
            writer.StartTag(0, sent.asAdd ? kAdd : kModify);
            if (serverId) writer.WriteElement(0, kServerID, std::string_view(*serverId));
            writer.WriteElement(0, kClientID, std::string_view(clientId));
            item->WriteFields(writer, false);
            writer.EndTag();
            sent.snapshot = folder->SnapshotRecord(*item);
            run.sent[item->GetOid()] = std::move(sent);
            ++items;
        }
        folder->EndChanges();
        WriteDeletes(*folder, writer, reverse, options);
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
