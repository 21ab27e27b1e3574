// CMobileMapiMessage: one store item of a folder as a protocol element. Holds the
// item (may be absent: deletions, moves and read changes carry only the key), its
// folder, and the key text used while no item is open. Field conversion is the item
// conversion's (CItemConverter, installed in the session).
//
// The element's owner deletes it after the item. Used by the request thread only.
#pragma once

#include <string>

#include "server/mapi/mapi_item_ptrs.h"
#include "server/store/vantro_element.h"

class CMobileMapiFolder;
class CItemConverter;

class CMobileMapiMessage : public CAbstractVantroElement {
public:
    // An element of folder (not owned; may be null for an item without folder).
    CMobileMapiMessage(CMobileMapiFolder* folder, IMessagePtr message = IMessagePtr());

    // Stores the value; for an open item, marks it read (value not 0) or unread
    // through its folder. Store errors are traced and swallowed; other failures
    // report "Crash on SetReadFlags".
    void SetReadFlag(int value) override;
    // Through the item conversion; false without one or without an open item.
    bool MessageToXML(CWBXML& writer, bool withContent) override;
    bool XMLtoMessage(const CWBXMLLiterals& fields) override;
    // Bit 0 of PR_MESSAGE_FLAGS of an open item, else the stored read value.
    int GetReadFlag() override;
    // PR_ENTRYID of an open item in upper-case hexadecimal, else the key text.
    std::string GetKey() override;
    std::string GetEntryIdText() override { return GetKey(); }
    void SetKey(const std::string& key) override { keyText_ = key; }
    // Sets the property on the open item; store errors are traced (false).
    bool SetClientIdProperty(const std::string& deviceId, const std::string& value) override;

    IMessagePtr& Message() { return message_; }
    CMobileMapiFolder* Folder() const { return folder_; }

private:
    CItemConverter* Converter() const;

    IMessagePtr message_;
    CMobileMapiFolder* folder_;
    std::string keyText_;
};
