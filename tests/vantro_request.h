// A Sync request in the test client's description form (tests/vantro_client.h),
// built one element per call, in the order of the calls:
//   SyncRequest().Folder("-1", "Contact").Add("7", {"1:FirstName Jane"}).Text()
// gives
//   Sync
//     Folder
//       ClientID -1
//       Typ Contact
//       Add
//         ClientID 7
//         COLLECTION
//           1:FirstName Jane
// Filter and GetData each open their block once and gather the folders asked for
// after them until another block starts. A test helper, not product code.
#pragma once

#include <string>
#include <vector>

class SyncRequest {
public:
    // A folder of the Filter block by its type ("Appointment"), with its window
    // ("-3") when days is given.
    SyncRequest& Filter(const std::string& type, const std::string& days = "") {
        Open("Filter");
        text_ += "    Folder\n      FolderType " + type + "\n";
        if (!days.empty()) text_ += "      Filter " + days + "\n";
        return *this;
    }
    // A folder of the GetData block by its type ("Email"), then options, one line
    // each ("Reset 1", "Filter -3").
    SyncRequest& Get(const std::string& type, const std::vector<std::string>& options = {}) {
        return GetFolder("FolderType " + type, options);
    }
    // A folder of the GetData block by its ServerID ("-8" or a key).
    SyncRequest& GetServerId(const std::string& serverId,
                             const std::vector<std::string>& options = {}) {
        return GetFolder("ServerID " + serverId, options);
    }
    // A Folder of the device's changes: ClientID and Typ lines when not empty.
    SyncRequest& Folder(const std::string& clientId, const std::string& typ = "") {
        open_.clear();
        text_ += "  Folder\n";
        if (!clientId.empty()) text_ += "    ClientID " + clientId + "\n";
        if (!typ.empty()) text_ += "    Typ " + typ + "\n";
        return *this;
    }
    // A Folder of the device's changes named by its ServerID.
    SyncRequest& ServerFolder(const std::string& serverId) {
        open_.clear();
        text_ += "  Folder\n    ServerID " + serverId + "\n";
        return *this;
    }
    // An Add of the current Folder with its fields ("1:FirstName Jane").
    SyncRequest& Add(const std::string& clientId, const std::vector<std::string>& fields) {
        return Change("Add", "", clientId, fields);
    }
    // A Modify of the current Folder; no ServerID line when serverId is empty.
    SyncRequest& Modify(const std::string& serverId, const std::string& clientId,
                        const std::vector<std::string>& fields) {
        return Change("Modify", serverId, clientId, fields);
    }
    // A Delete of the current Folder naming each of serverIds.
    SyncRequest& Delete(const std::vector<std::string>& serverIds) {
        text_ += "    Delete\n";
        for (const std::string& id : serverIds) text_ += "      ServerID " + id + "\n";
        return *this;
    }
    // A ReadState of the current Folder.
    SyncRequest& ReadState(const std::string& serverId, const std::string& flag) {
        text_ += "    ReadState\n      ServerID " + serverId + "\n      ReadFlag " + flag + "\n";
        return *this;
    }
    std::string Text() const { return "Sync\n" + text_; }

private:
    void Open(const std::string& block) {
        if (open_ == block) return;
        open_ = block;
        text_ += "  " + block + "\n";
    }
    SyncRequest& GetFolder(const std::string& nameLine, const std::vector<std::string>& options) {
        Open("GetData");
        text_ += "    Folder\n      " + nameLine + "\n";
        for (const std::string& option : options) text_ += "      " + option + "\n";
        return *this;
    }
    SyncRequest& Change(const std::string& kind, const std::string& serverId,
                        const std::string& clientId, const std::vector<std::string>& fields) {
        text_ += "    " + kind + "\n";
        if (!serverId.empty()) text_ += "      ServerID " + serverId + "\n";
        text_ += "      ClientID " + clientId + "\n      COLLECTION\n";
        for (const std::string& field : fields) text_ += "        " + field + "\n";
        return *this;
    }

    std::string text_;  // the lines below Sync
    std::string open_;  // the block (Filter, GetData) that further folders go into
};
