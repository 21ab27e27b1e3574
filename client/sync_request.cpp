// Building the request body of a run.
#include "client/client_log.h"
#include "client/sync_engine.h"

std::vector<std::pair<std::string, std::string>> SyncRequestHeaders() {
    return {{"ContentType", "application/vantro"},
            {"Connection", "Keep-Alive"},
            {"Cache-Control", "no-cache"},
            {"Vantro-Version", "1.0"},
            {"User-Agent", "PocketPC"},
            {"Accept-Language", "de-de"}};
}

int BuildRequest(SyncSession& session, CWBXML& writer, const std::atomic<bool>* stop) {
    using namespace vantro;
    writer.BeginDocument();
    writer.StartTag(0, kLogon);
    writer.WriteElement(0, kDeviceID, std::string_view(GetDeviceId()));
    writer.WriteElement(0, kUserName, std::string_view(session.user));
    writer.WriteElement(0, kPassword, std::string_view(session.password));
    writer.EndTag();
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
        folder->BeginChanges(session.start);
        while (auto item = folder->NextChange()) {
            if (stop && stop->load()) {
                folder->EndChanges();
                return -1;
            }
            if (!item->HasItem()) continue;
            writer.StartTag(0, item->ChangeState() == kChangeAdded ? kAdd : kModify);
            writer.WriteElement(0, kClientID, std::string_view(item->ClientId()));
            item->WriteFields(writer, false);
            writer.EndTag();
            ++items;
        }
        folder->EndChanges();
        writer.EndTag();
    }
    writer.EndTag();
    return items;
}
