// CMobileVantroServer: the per-request state the protocol server keeps (day
// windows, transport-headers switch, log lines, the session) and the one store
// operation it needs beyond the session's: FindOrCreateItem. CMobileMapiServer
// implements it on the message store.
//
// One object per HTTP request, destroyed after the answer was sent; it belongs to
// that request's thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "server/store/twin_search.h"
#include "server/store/vantro_element.h"
#include "server/store/vantro_folder.h"
#include "server/store/vantro_session.h"

class CWBXMLLiterals;

class CMobileVantroServer {
public:
    virtual ~CMobileVantroServer() = default;

    // For an item the device added to folder: with twins, the existing item it
    // matches by name among those twins accepts, opened for writing (matched set
    // when given); otherwise, and without twins, a new item (fields: the item's
    // element tree; className: the folder's GetClassName or the device's kind
    // name). The caller owns the element. None when no item can be made.
    virtual std::unique_ptr<CAbstractVantroElement> FindOrCreateItem(
        CAbstractVantroFolder* folder, const CWBXMLLiterals& fields, const std::string& className,
        const CTwinSearch* twins = nullptr, bool* matched = nullptr) = 0;

    // Day windows of the request (0: none; codes and counts as the protocol sends).
    std::int32_t mailWindow = 0;
    std::int32_t taskWindow = 0;
    std::int32_t calendarWindow = 0;
    // Whether items carry their transport message headers (starts 1).
    int transportHeaders = 1;
    // Lines the elements append during the request (for the protocol log).
    std::vector<std::string> logLines;

    CAbstractVantroSession* Session() const { return session_; }
    void SetSession(CAbstractVantroSession* session) { session_ = session; }

protected:
    CMobileVantroServer() = default;

private:
    CAbstractVantroSession* session_ = nullptr;  // not owned
};
