// CRequestExchange: the per-request ClientID maps, echoes and claims.
#include "server/store/request_exchange.h"

#include "platform/win/message_box.h"
#include "server/config/live_trace.h"
#include "server/mapi/mapi_exception.h"
#include "server/store/client_id_property.h"
#include "server/store/mapi_folder.h"
#include "server/syncstate/contents_table_file.h"

void CRequestExchange::Begin(const std::string& deviceId, const std::string& dataFolder) {
    if (!maps_.empty()) {
        // What the last request saved as its files hold it is kept for the next.
        kept_.clear();
        for (auto& [key, map] : maps_) {
            auto saved = savedStamps_.find(key);
            if (saved != savedStamps_.end()) kept_[key] = KeptMap{std::move(map), saved->second};
        }
        keptDeviceId_ = deviceId_;
        keptDataFolder_ = dataFolder_;
    }
    if (!deviceId.empty() && (deviceId != keptDeviceId_ || dataFolder != keptDataFolder_))
        kept_.clear();
    deviceId_ = deviceId;
    dataFolder_ = dataFolder;
    maps_.clear();
    savedStamps_.clear();
    setAside_.clear();
    echoes_.clear();
    echoKeys_.clear();
    claimed_.clear();
}

CClientMap* CRequestExchange::MapOf(CMobileMapiFolder& folder) {
    if (deviceId_.empty() || !folder.IsValid()) return nullptr;
    std::string key = folder.GetKey();
    if (key.empty()) return nullptr;
    std::unique_ptr<CClientMap>& slot = maps_[key];
    if (slot) return slot.get();
    if (TakeKept(key, slot)) {
        slot->ConfirmUpTo(ReadStateFileGeneration(StateFilePath(dataFolder_, deviceId_, key)));
        return slot.get();
    }
    slot = std::make_unique<CClientMap>(dataFolder_, deviceId_, key);
    switch (slot->Load()) {
        case CClientMap::LoadResult::kRebuild: {
            std::vector<std::string> keys;
            std::vector<std::pair<std::string, std::string>> properties;
            try {
                ReadClientIdProperties(folder.MapiFolder(), deviceId_, keys, properties);
                slot->Rebuild(properties, keys);
                AddLiveTraceF("ClientID map %s rebuilt from %d items", key.c_str(),
                              static_cast<int>(keys.size()));
            } catch (const CMAPIException& e) {
                AddLiveTraceF("ClientID map %s not rebuilt: %s", key.c_str(), e.what());
            }
            break;
        }
        case CClientMap::LoadResult::kSetAside:
            setAside_.insert(key);
            break;
        default:
            break;
    }
    slot->ConfirmUpTo(ReadStateFileGeneration(StateFilePath(dataFolder_, deviceId_, key)));
    return slot.get();
}

bool CRequestExchange::TakeKept(const std::string& key, std::unique_ptr<CClientMap>& slot) {
    auto kept = kept_.find(key);
    if (kept == kept_.end()) return false;
    KeptMap found = std::move(kept->second);
    kept_.erase(kept);
    if (deviceId_ != keptDeviceId_ || dataFolder_ != keptDataFolder_) return false;
    const std::string index = found.map->IndexPath();
    if (!(StampOf(index) == found.stamp) || StampOf(found.map->MarkerPath()).exists) return false;
    slot = std::move(found.map);
    return true;
}

bool CRequestExchange::BeforeStoreWrite(CMobileMapiFolder& folder) {
    CClientMap* map = MapOf(folder);
    if (map == nullptr) return true;
    std::string error;
    if (map->MarkDirty(error)) return true;
    AddLiveTraceF("ClientID map %s: %s", folder.GetKey().c_str(), error.c_str());
    return false;
}

void CRequestExchange::NoteEcho(const std::string& folderKey, const std::string& itemKey) {
    if (echoKeys_.insert(itemKey).second) echoes_[folderKey].push_back(itemKey);
}

bool CRequestExchange::IsEcho(const std::string& itemKey) const {
    return echoKeys_.count(itemKey) != 0;
}

const std::vector<std::string>& CRequestExchange::EchoesOf(const std::string& folderKey) const {
    static const std::vector<std::string> kNone;
    auto found = echoes_.find(folderKey);
    return found == echoes_.end() ? kNone : found->second;
}

void CRequestExchange::Save() {
    for (auto& [key, map] : maps_) {
        std::string error;
        if (!map->Save(error)) {
            ShowMessageBox("The ClientID map of folder " + key + " of device " + deviceId_ +
                           " cannot be written: " + error);
            savedStamps_.erase(key);
            continue;
        }
        CFileStamp stamp = StampOf(map->IndexPath());
        if (stamp.exists)
            savedStamps_[key] = stamp;
        else
            savedStamps_.erase(key);
    }
}
