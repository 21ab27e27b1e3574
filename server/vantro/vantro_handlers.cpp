// The protocol server's entry points for the web server.
#include "server/vantro/vantro_handlers.h"

#include "server/config/device_folder.h"
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
    ApplyPendingResets(settings);
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
        ApplyPendingResets(settings);
        download = PrepareAttachmentDownload(settings, request);
    }
    SendAttachmentDownload(download, out);
}

void CVantroHandlers::ResetDevice(Settings& settings, const std::string& deviceId) {
    {
        std::lock_guard<std::mutex> lock(resetLock_);
        pendingResets_.insert(deviceId);
    }
    std::unique_lock<std::mutex> request(requestLock_, std::try_to_lock);
    if (request.owns_lock()) ApplyPendingResets(settings);
}

void CVantroHandlers::ApplyPendingResets(Settings& settings) {
    std::set<std::string> resets;
    {
        std::lock_guard<std::mutex> lock(resetLock_);
        resets.swap(pendingResets_);
    }
    for (const std::string& deviceId : resets) ApplyDeviceReset(settings, deviceId);
}

void InstallVantroHandlers() { SetProtocolHandlers(std::make_shared<CVantroHandlers>()); }
