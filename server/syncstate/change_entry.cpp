// Change entries: text dump and move detection.
#include "server/syncstate/change_entry.h"

#include <unordered_map>

std::string DumpChangeList(const ChangeList& list) {
    std::string text;
    for (const std::unique_ptr<CChangeEntry>& entry : list) {
        text += std::to_string(entry->GetKind());
        text += ' ';
        text += entry->Key();
        text += ' ';
        text += entry->Label();
        if (entry->GetKind() == kChangeReadState) {
            text += " read=" + std::to_string(entry->GetReadFlag());
        } else if (entry->GetKind() == kChangeMoved) {
            text += " from=" + entry->GetSourcePath() + " to=" + entry->GetDestinationPath();
        }
        text += '\n';
    }
    return text;
}

void DetectMoves(const std::vector<CChangeEntry*>& collected,
                 const std::function<std::string(CAbstractVantroFolder*)>& pathOf) {
    // Deleted entries by key, each key's entries in collection order.
    std::unordered_map<std::string, std::vector<CChangeEntry*>> deletedByKey;
    for (CChangeEntry* entry : collected) {
        if (entry != nullptr && entry->GetKind() == kChangeDeleted)
            deletedByKey[entry->Key()].push_back(entry);
    }
    if (deletedByKey.empty()) return;

    for (CChangeEntry* added : collected) {
        if (added == nullptr || added->GetKind() != kChangeNew) continue;
        auto found = deletedByKey.find(added->Key());
        if (found == deletedByKey.end()) continue;
        CChangeEntry* source = nullptr;
        for (CChangeEntry* deleted : found->second) {
            // A deleted entry absorbed by an earlier new entry is no longer deleted.
            if (deleted->GetKind() != kChangeDeleted) continue;
            deleted->SetKind(kChangeNone);
            source = deleted;
        }
        if (source == nullptr) continue;
        added->SetKind(kChangeMoved);
        added->SetSourceFolder(source->GetFolder());
        added->SetDestinationPath(pathOf ? pathOf(added->GetFolder()) : std::string());
        added->SetSourcePath(pathOf ? pathOf(source->GetFolder()) : std::string());
    }
}
