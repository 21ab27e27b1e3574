// CMobileMapiFolder: the item operations (new, open, delete, move).
#include <optional>

#include "platform/win/message_box.h"
#include "server/config/live_trace.h"
#include "server/devices/pocket_device.h"
#include "server/mapi/mapi_exception.h"
#include "server/mapi/mapi_status_calls.h"
#include "server/store/folder_kinds.h"
#include "server/store/mapi_folder.h"
#include "server/store/mapi_message.h"
#include "server/store/offered_folders.h"

namespace {

// True when an item of a folder not offered to the device is refused: the refusal
// traced as "<what> <key> refused: ...". False when its folder is offered.
bool Refused(bool offered, const char* what, const std::string& key, const std::string& deviceId) {
    if (offered) return false;
    AddLiveTraceF("%s %s refused: not in a folder offered to device %s", what, key.c_str(),
                  deviceId.c_str());
    return true;
}

// The bytes of an item key; none for a key that names no item (empty, odd length or
// not hexadecimal), so that such keys never reach the store.
std::optional<CByteBuffer> ItemId(const std::string& key) {
    std::optional<CByteBuffer> id = CByteBuffer::ParseHex(key);
    if (!id || id->Empty()) return std::nullopt;
    return id;
}

std::string Bytes(const CByteBuffer& buffer) {
    return std::string(buffer.Bytes().begin(), buffer.Bytes().end());
}

// The folder that now holds the item id of the store that folder belongs to, opened
// through session; raises CMAPIException when the store, the item or its parent
// cannot be opened.
IMAPIFolderPtr ParentInStore(IMAPISession* session, IMAPIFolderPtr& folder, const CByteBuffer& id) {
    CMapiRef<IMsgStore> store = OpenStore(session, Bytes(folder.GetBinaryProp(PR_STORE_ENTRYID)));
    if (!store) throw CMAPIException(MAPI_E_NOT_FOUND, "OpenMsgStore");
    CMapiRef<IMessage> message = OpenMessageEntry(store.Get(), Bytes(id));
    if (!message) throw CMAPIException(MAPI_E_NOT_FOUND, "OpenEntry");
    IMessagePtr item(message);
    CMapiRef<IMAPIFolder> parent =
        OpenFolderEntry(store.Get(), Bytes(item.GetBinaryProp(PR_PARENT_ENTRYID)));
    if (!parent) throw CMAPIException(MAPI_E_NOT_FOUND, "OpenEntry");
    return IMAPIFolderPtr(std::move(parent));
}

}  // namespace

std::unique_ptr<CAbstractVantroElement> CMobileMapiFolder::NewElement() {
    if (!folder_) return nullptr;
    std::string className = GetClassName();
    if (className == "Contacts") className = "Contact";  // as some devices name it
    const char* messageClass = nullptr;
    for (const CFolderKind& kind : kFolderKinds) {
        if (className == kind.className) messageClass = kind.messageClass;
    }
    try {
        IMessagePtr message = folder_.CreateMessage();
        if (messageClass != nullptr) message.SetStrProp(PR_MESSAGE_CLASS, messageClass);
        return std::make_unique<CMobileMapiMessage>(this, std::move(message));
    } catch (const CMAPIException& e) {
        AddLiveTraceF("NewElement: %s", e.what());
        return nullptr;
    }
}

std::unique_ptr<CAbstractVantroElement> CMobileMapiFolder::GetElement(const std::string& key) {
    std::optional<CByteBuffer> id = ItemId(key);
    if (!id || !folder_) return nullptr;
    try {
        IMessagePtr message = folder_.OpenMessage(*id, MAPI_BEST_ACCESS);
        if (Refused(ParentOffered(message.GetBinaryProp(PR_PARENT_ENTRYID)), "Item", key,
                    DeviceId()))
            return nullptr;
        return std::make_unique<CMobileMapiMessage>(this, std::move(message));
    } catch (const CMAPIException&) {
        return nullptr;
    }
}

bool CMobileMapiFolder::ParentOffered(const CByteBuffer& parentId) const {
    return device_ != nullptr && IsFolderOffered(*device_, Bytes(parentId));
}

bool CMobileMapiFolder::IsOffered() {
    return folder_ && device_ != nullptr && IsFolderOffered(*device_, Bytes(EntryId()));
}

int CMobileMapiFolder::DeleteElement(const std::string& key) {
    std::optional<CByteBuffer> id = ItemId(key);
    if (!id || !folder_ || Device() == nullptr || !Device()->session) return 1;
    try {
        // The item may have moved since the device saw it: delete it where it is now.
        IMAPIFolderPtr parent = ParentInStore(Device()->session.Get(), folder_, *id);
        if (Refused(ParentOffered(parent.GetEntryID()), "Deleting", key, DeviceId())) return 1;
        parent.DeleteMessages({*id});
        AddLiveTraceF("Deleting %s", key.c_str());
    } catch (const CMAPIException& e) {
        AddLiveTraceF("Deleting %s failed: %s", key.c_str(), e.what());
    }
    return 1;
}

bool CMobileMapiFolder::MoveElement(const std::string& key, CAbstractVantroFolder* target) {
    std::optional<CByteBuffer> id = ItemId(key);
    auto* destination = dynamic_cast<CMobileMapiFolder*>(target);
    if (!id || !folder_ || destination == nullptr || !destination->IsValid()) return true;
    const std::vector<CByteBuffer> list = {*id};
    try {
        IMessagePtr item = folder_.OpenMessage(*id, MAPI_BEST_ACCESS);
        if (Refused(ParentOffered(item.GetBinaryProp(PR_PARENT_ENTRYID)), "Move", key, DeviceId()))
            return true;
        try {
            folder_.CopyMessages(list, destination->MapiFolder(), MESSAGE_MOVE);
            return true;
        } catch (const CMAPIException&) {
        }
        try {
            folder_.CopyMessages(list, destination->MapiFolder(), 0);
            AddLiveTraceF("Move fell back to copy %s", key.c_str());
            return true;
        } catch (const CMAPIException&) {
        }
        CPocketDevice* targetDevice = destination->Device();
        if (targetDevice != nullptr && targetDevice->session) {
            IMAPIFolderPtr parent =
                ParentInStore(targetDevice->session.Get(), destination->MapiFolder(), *id);
            parent.CopyMessages(list, destination->MapiFolder(), MESSAGE_MOVE);
        }
    } catch (const CMAPIException& e) {
        AddLiveTraceF("Move %s failed: %s", key.c_str(), e.what());
    } catch (const std::exception&) {
        ShowMessageBox("Crash in CMobileMapiFolder::MoveElement");
    }
    return true;
}
