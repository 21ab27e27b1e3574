// The ClientID property of items: its name and the pass that reads it back.
#include "server/store/client_id_property.h"

const GUID PSETID_CorvelSync = {
    0x4E6F7276, 0x6578, 0x436F, {0x72, 0x76, 0x65, 0x6C, 0x53, 0x79, 0x6E, 0x63}};

namespace {

// Rows are read in batches, so a large folder never sits in memory as one row set.
constexpr LONG kRowBatch = 512;

std::u16string PropertyName(const std::string& deviceId) {
    std::u16string name = u"ClientID:";
    for (char c : deviceId) name.push_back(static_cast<char16_t>(static_cast<unsigned char>(c)));
    return name;
}

}  // namespace

ULONG ClientIdPropertyTag(CGenMapiPropPtr& object, const std::string& deviceId) {
    return object.GetIDFromName(PSETID_CorvelSync, PropertyName(deviceId), PT_STRING8, MAPI_CREATE);
}

void ReadClientIdProperties(IMAPIFolderPtr& folder, const std::string& deviceId,
                            std::vector<std::string>& keys,
                            std::vector<std::pair<std::string, std::string>>& properties) {
    ULONG tag = ClientIdPropertyTag(folder, deviceId);
    IMAPITablePtr table = folder.GetContentsTable();
    table.SetColumns(CPropTagArray{PR_ENTRYID, tag});
    for (;;) {
        CRowSet rows = table.QueryRows(kRowBatch);
        if (rows.Empty()) break;
        for (ULONG i = 0; i < rows.Count(); ++i) {
            std::string key = CRowSet::Binary(rows[i], PR_ENTRYID).ToText();
            if (key.empty()) continue;
            keys.push_back(key);
            const SPropValue* value = CRowSet::Find(rows[i], tag);
            if (value != nullptr && value->Value.lpszA != nullptr)
                properties.emplace_back(key, value->Value.lpszA);
        }
    }
}
