// CVantroHandlers: the protocol server as the web server's routing calls it
// (IProtocolHandlers of server/http/web_routing.h). Holds the one store session
// of the process with the item conversion installed; the devices it looks up are
// those of the list it is made with, which must outlive it.
//
// One device at a time: Vantro requests and the store lookups of attachment requests
// run under one lock, so a second device waits until the first request's answer is
// built and nothing of its session state (current device, folder objects, change
// lists) is overwritten. An attachment's bytes are sent after the lock is released,
// so a slow download holds up no other device. Other web requests never take the
// lock. Thread-safe.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "server/devices/device_list.h"
#include "server/http/web_routing.h"
#include "server/store/mapi_session.h"

class CVantroHandlers : public IProtocolHandlers {
public:
    explicit CVantroHandlers(CDeviceList& devices) : devices_(devices) {}
    ~CVantroHandlers() override;

    // The shared session with a CMapiItemConverter.
    void CreateSharedSession(Settings& settings) override;
    // CVantroRequest::HandleVantroRequest with a new CMobileMapiServer; true.
    bool HandleVantroRequest(Settings& settings, const CHTMLCommand& request,
                             CDataString& answer) override;
    // PrepareAttachmentDownload under the lock, then SendAttachmentDownload
    // (attachment_request.h).
    void HandleAttachmentRequest(Settings& settings, const CHTMLCommand& request,
                                 IAnswerStream& out) override;
    // Notes change and runs it now when no request runs, else as the running
    // request ends (under the request lock, which owns the sync state).
    void BetweenRequests(Settings& settings, std::function<void(Settings&)> change) override;

private:
    // Runs the changes noted so far, in order; the caller holds requestLock_.
    void RunPendingChanges(Settings& settings);

    CDeviceList& devices_;
    std::mutex requestLock_;  // one request at a time; owns the devices' sync state
    std::mutex pendingLock_;  // owns pending_
    std::vector<std::function<void(Settings&)>> pending_;
    std::unique_ptr<CMobileMapiSession> session_;
};

// Installs a CVantroHandlers over devices in the web server's routing
// (SetProtocolHandlers).
void InstallVantroHandlers(CDeviceList& devices);
