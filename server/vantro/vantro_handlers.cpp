// The protocol server's entry points for the web server.
#include "server/vantro/vantro_handlers.h"

#include "server/itemconv/mapi_item_converter.h"
#include "server/vantro/attachment_request.h"
#include "server/vantro/vantro_request.h"

CVantroHandlers::~CVantroHandlers() = default;

void CVantroHandlers::CreateSharedSession(Settings& settings) {
    std::lock_guard<std::mutex> lock(requestLock_);
    session_ = std::make_unique<CMobileMapiSession>(settings);
    session_->SetItemConverter(std::make_shared<CMapiItemConverter>());
}

bool CVantroHandlers::HandleVantroRequest(Settings& settings, const CHTMLCommand& request,
                                          CDataString& answer) {
    std::lock_guard<std::mutex> lock(requestLock_);
    if (!session_) return false;
    CMobileMapiServer server(session_.get());
    CVantroRequest vantro(settings, *session_, server);
    return vantro.HandleVantroRequest(request, answer);
}

void CVantroHandlers::HandleAttachmentRequest(Settings& settings, const CHTMLCommand& request,
                                              IAnswerStream& out) {
    CAttachmentDownload download;
    {
        std::lock_guard<std::mutex> lock(requestLock_);
        download = PrepareAttachmentDownload(settings, request);
    }
    SendAttachmentDownload(download, out);
}

void InstallVantroHandlers() { SetProtocolHandlers(std::make_shared<CVantroHandlers>()); }
