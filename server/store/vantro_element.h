// CAbstractVantroElement: one item as the protocol server sees it while it reads a
// device's change or writes a store change into the answer.
//
// The caller that receives an element owns it and deletes it after the item.
// Thread use: an element belongs to the request thread that made it.
#pragma once

#include <string>
#include <utility>
#include <vector>

class CWBXML;
class CWBXMLLiterals;

// Element states: what an element carries into the answer.
enum ElementState : int {
    kStateNone = 0,
    kStateAdd = 1,
    kStateDelete = 2,
    kStateModify = 3,
    kStateReadFlag = 4,
    kStateMoved = 5,
};

class CAbstractVantroElement {
public:
    virtual ~CAbstractVantroElement() = default;

    // Stores the read value (implementations also change the item).
    virtual void SetReadFlag(int value) { readValue_ = value; }
    // The stored read value.
    virtual int ReadValue() const { return readValue_; }
    // Writes the item's fields into the answer (withContent: whole bodies); false when
    // the item cannot be written (no item open, no item kind for its class).
    virtual bool MessageToXML(CWBXML& writer, bool withContent) = 0;
    // Writes the fields into the item and saves it; false when nothing could be done.
    virtual bool XMLtoMessage(const CWBXMLLiterals& fields) = 0;
    // The item's read state (0 or 1).
    virtual int GetReadFlag() { return 0; }
    virtual int GetState() const { return state_; }
    virtual void SetState(int state) { state_ = state; }
    // The item key (upper-case hexadecimal entry ID).
    virtual std::string GetKey() = 0;
    // The entry ID as text; the same value as GetKey.
    virtual std::string GetEntryIdText() = 0;
    // Stores the key used while no item is open.
    virtual void SetKey(const std::string& key) = 0;
    // Sets deviceId's ClientID property of the item (client_id_property.h) to
    // value, written with the item's next save. False when the item has no such
    // property (the base) or the store refuses it.
    virtual bool SetClientIdProperty(const std::string& /*deviceId*/,
                                     const std::string& /*value*/) {
        return false;
    }

    // For moves: the paths of the folder the item came from and went to.
    const std::string& SourcePath() const { return sourcePath_; }
    void SetSourcePath(const std::string& path) { sourcePath_ = path; }
    const std::string& DestinationPath() const { return destinationPath_; }
    void SetDestinationPath(const std::string& path) { destinationPath_ = path; }
    // Whether MessageToXML includes transport message headers (starts 1).
    int TransportHeaders() const { return transportHeaders_; }
    void SetTransportHeaders(int value) { transportHeaders_ = value; }
    // The request's log-line list the element appends to (not owned; may be null).
    std::vector<std::string>* LogLines() const { return logLines_; }
    void SetLogLines(std::vector<std::string>* lines) { logLines_ = lines; }
    // Why a part of the last received item was not applied although the rest was
    // saved ("Recurrence: interval 0"); empty when all of it was. The answer
    // reports such an item with an error element.
    const std::string& RefusedPart() const { return refusedPart_; }
    void SetRefusedPart(std::string reason) { refusedPart_ = std::move(reason); }

protected:
    CAbstractVantroElement() = default;

private:
    int state_ = kStateNone;
    int readValue_ = 0;
    std::string sourcePath_;
    std::string destinationPath_;
    int transportHeaders_ = 1;
    std::vector<std::string>* logLines_ = nullptr;
    std::string refusedPart_;
};
