// The protocol server's entry points for the web server.
#include "server/vantro/vantro_handlers.h"

#include <exception>

#include "server/config/live_trace.h"
#include "server/itemconv/mapi_item_converter.h"
#include "server/vantro/attachment_request.h"
#include "server/vantro/vantro_request.h"

CVantroHandlers::~CVantroHandlers() = default;

void CVantroHandlers::CreateSharedSession(Settings& settings) {
    std::lock_guard<std::mutex> lock(requestLock_);
    session_ = std::make_unique<CMobileMapiSession>(settings, devices_);
    session_->SetItemConverter(std::make_shared<CMapiItemConverter>());
}

bool CVantroHandlers::HandleVantroRequest(Settings& settings, const CHTMLCommand& request,
                                          CDataString& answer) {
    std::lock_guard<std::mutex> lock(requestLock_);
    RunPendingChanges(settings);
    if (!session_) return false;
    // What the console asked for meanwhile is done before the lock is given up.
    struct RunAtEnd {
        CVantroHandlers& handlers;
        Settings& settings;
        ~RunAtEnd() { handlers.RunPendingChanges(settings); }
    } runAtEnd{*this, settings};
    CMobileMapiServer server(session_.get());
    CVantroRequest vantro(settings, *session_, server);
    return vantro.HandleVantroRequest(request, answer);
}

void CVantroHandlers::HandleAttachmentRequest(Settings& settings, const CHTMLCommand& request,
                                              IAnswerStream& out) {
    CAttachmentDownload download;
    {
        std::lock_guard<std::mutex> lock(requestLock_);
        RunPendingChanges(settings);
        download = PrepareAttachmentDownload(devices_, request);
        RunPendingChanges(settings);
    }
    SendAttachmentDownload(download, out);
}

void CVantroHandlers::BetweenRequests(Settings& settings, std::function<void(Settings&)> change) {
    {
        std::lock_guard<std::mutex> lock(pendingLock_);
        pending_.push_back(std::move(change));
    }
    std::unique_lock<std::mutex> request(requestLock_, std::try_to_lock);
    if (request.owns_lock()) RunPendingChanges(settings);
}

void CVantroHandlers::RunPendingChanges(Settings& settings) {
    std::vector<std::function<void(Settings&)>> changes;
    {
        std::lock_guard<std::mutex> lock(pendingLock_);
        changes.swap(pending_);
    }
    for (const auto& change : changes) {
        try {
            change(settings);
        } catch (const std::exception& error) {
            AddLiveTraceF("A change of the devices' sync state failed: %s", error.what());
        } catch (...) {
            AddLiveTrace("A change of the devices' sync state failed");
        }
    }
}

void InstallVantroHandlers(CDeviceList& devices) {
    SetProtocolHandlers(std::make_shared<CVantroHandlers>(devices));
}
