// CMobileMapiMessage: keys, read state and the hand-over to the item conversion.
#include "server/store/mapi_message.h"

#include "platform/win/message_box.h"
#include "server/config/live_trace.h"
#include "server/mapi/mapi_exception.h"
#include "server/store/client_id_property.h"
#include "server/store/mapi_folder.h"
#include "server/store/mapi_session.h"

CMobileMapiMessage::CMobileMapiMessage(CMobileMapiFolder* folder, IMessagePtr message)
    : message_(std::move(message)), folder_(folder) {}

CItemConverter* CMobileMapiMessage::Converter() const {
    if (folder_ == nullptr || folder_->Session() == nullptr) return nullptr;
    return folder_->Session()->ItemConverter();
}

void CMobileMapiMessage::SetReadFlag(int value) {
    CAbstractVantroElement::SetReadFlag(value);
    if (!message_ || folder_ == nullptr || !folder_->MapiFolder()) return;
    try {
        CByteBuffer entryId = message_.GetEntryID();
        folder_->MapiFolder().SetReadFlags({entryId}, value != 0 ? 0 : CLEAR_READ_FLAG);
    } catch (const CMAPIException& e) {
        AddLiveTraceF("SetReadFlags: %s", e.what());
    } catch (const std::exception& e) {
        ShowMessageBox("Crash on SetReadFlags");
    }
}

bool CMobileMapiMessage::MessageToXML(CWBXML& writer, bool withContent) {
    CItemConverter* converter = Converter();
    if (converter == nullptr) {
        AddLiveTrace("MessageToXML: item conversion not available");
        return false;
    }
    if (!message_) return false;
    return converter->MessageToXML(*this, writer, withContent);
}

bool CMobileMapiMessage::XMLtoMessage(const CWBXMLLiterals& fields) {
    CItemConverter* converter = Converter();
    if (converter == nullptr) {
        AddLiveTrace("XMLtoMessage: item conversion not available");
        return false;
    }
    if (!message_) return false;
    return converter->XMLtoMessage(*this, fields);
}

int CMobileMapiMessage::GetReadFlag() {
    if (!message_) return ReadValue();
    try {
        return message_.GetLongProp(PR_MESSAGE_FLAGS) & MSGFLAG_READ ? 1 : 0;
    } catch (const CMAPIException&) {
        return ReadValue();
    }
}

std::string CMobileMapiMessage::GetKey() {
    if (!message_) return keyText_;
    try {
        return message_.GetEntryID().ToText();
    } catch (const CMAPIException&) {
        return keyText_;
    }
}

bool CMobileMapiMessage::SetClientIdProperty(const std::string& deviceId,
                                             const std::string& value) {
    if (!message_) return false;
    try {
        message_.SetStrProp(ClientIdPropertyTag(message_, deviceId), value);
        return true;
    } catch (const CMAPIException& e) {
        AddLiveTraceF("ClientID property of %s: %s", GetKey().c_str(), e.what());
        return false;
    }
}
