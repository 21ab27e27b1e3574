// CMobileMapiServer: FindOrCreateItem through the item conversion.
#include "server/store/mapi_server.h"

#include "server/config/live_trace.h"
#include "server/store/mapi_folder.h"
#include "server/store/mapi_message.h"
#include "server/store/mapi_session.h"

std::unique_ptr<CAbstractVantroElement> CMobileMapiServer::FindOrCreateItem(
    CAbstractVantroFolder* folder, const CWBXMLLiterals& fields, const std::string& className,
    const CTwinSearch* twins, bool* matched) {
    if (matched != nullptr) *matched = false;
    auto* session = dynamic_cast<CMobileMapiSession*>(Session());
    CItemConverter* converter = session != nullptr ? session->ItemConverter() : nullptr;
    if (converter == nullptr) {
        AddLiveTrace("FindOrCreateItem: item conversion not available");
        return nullptr;
    }
    auto* mapiFolder = dynamic_cast<CMobileMapiFolder*>(folder);
    if (mapiFolder == nullptr) return nullptr;
    std::unique_ptr<CMobileMapiMessage> message =
        converter->FindOrCreateItem(*mapiFolder, fields, className, twins, matched);
    if (message) {
        message->SetLogLines(&logLines);
        message->SetTransportHeaders(transportHeaders);
    }
    return message;
}
