// CMobileMapiServer: the protocol server's per-request object on the message store.
// FindOrCreateItem is the item conversion's (CItemConverter, installed in the
// session).
//
// One object per request, used by that request's thread.
#pragma once

#include "server/store/vantro_server.h"

class CMobileMapiServer : public CMobileVantroServer {
public:
    CMobileMapiServer() = default;
    explicit CMobileMapiServer(CAbstractVantroSession* session) { SetSession(session); }

    // Through the session's item conversion; none (with the live trace line
    // "FindOrCreateItem: item conversion not available") while none is installed,
    // or when folder is not a store folder.
    std::unique_ptr<CAbstractVantroElement> FindOrCreateItem(CAbstractVantroFolder* folder,
                                                             const CWBXMLLiterals& fields,
                                                             const std::string& className,
                                                             const CTwinSearch* twins = nullptr,
                                                             bool* matched = nullptr) override;
};
