// The changes a run would send, counted without sending.
#include "client/pending_changes.h"

#include <chrono>
#include <exception>

#include "client/client_settings.h"
#include "client/sync_folder.h"

int PendingChanges::Total() const {
    int total = 0;
    for (const Folder& folder : folders) total += folder.changed + folder.deleted;
    return total;
}

std::string PendingChanges::Summary() const {
    std::string text;
    for (const Folder& folder : folders) {
        if (folder.changed == 0 && folder.deleted == 0) continue;
        if (!text.empty()) text += "; ";
        text += folder.name + ":";
        if (folder.changed > 0) text += " " + std::to_string(folder.changed) + " changed";
        if (folder.changed > 0 && folder.deleted > 0) text += ",";
        if (folder.deleted > 0) text += " " + std::to_string(folder.deleted) + " deleted";
    }
    return text;
}

bool FindPendingChanges(PendingChanges& pending, std::string* error) {
    pending = PendingChanges();
    try {
        PocketOutlookApplication app;
        if (!app.Logon()) {
            if (error) *error = app.error();
            return false;
        }
        for (auto& folder : SyncFolder::MakeRunFolders(GetDataFolder())) {
            if (!folder->Attach(app)) continue;
            PendingChanges::Folder counted;
            counted.name = folder->ReportName();
            folder->BeginChanges(std::chrono::steady_clock::now());
            while (auto item = folder->NextChange()) {
                if (item->HasItem()) ++counted.changed;
            }
            folder->EndChanges();
            for (long oid : folder->Run().gone) {
                if (!folder->KeyOf(oid).empty() || folder->SentAdds().count(oid)) ++counted.deleted;
            }
            counted.deleted += static_cast<int>(folder->GoneKeysOutsideSnapshot().size());
            pending.folders.push_back(counted);
        }
        return true;
    } catch (const std::exception& e) {
        if (error) *error = e.what();
        return false;
    }
}
