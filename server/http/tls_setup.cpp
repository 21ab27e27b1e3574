// Starting the HTTPS listener from the settings.
#include "server/http/tls_setup.h"

#include <unistd.h>

#include "server/config/live_trace.h"
#include "server/http/tls_certificate.h"

CTlsFiles TlsFilesOf(const Settings& settings) {
    CTlsFiles files;
    files.certFile = settings.TlsCertFile();
    files.keyFile = settings.TlsKeyFile();
    if (files.certFile.empty() && files.keyFile.empty()) {
        files.own = true;
        files.certFile = settings.DataFolder() + "/" + kOwnCertificateName;
        files.keyFile = settings.DataFolder() + "/" + kOwnKeyName;
    }
    return files;
}

bool EnsureOwnCertificate(const CTlsFiles& files, bool& made, std::string& error) {
    made = false;
    if (!files.own || access(files.certFile.c_str(), F_OK) == 0) return true;
    if (!CreateSelfSignedCertificate(files.certFile, files.keyFile, MachineNames(),
                                     MachineAddresses(), error)) {
        error = "no certificate could be made: " + error;
        return false;
    }
    made = true;
    return true;
}

std::shared_ptr<CTlsServerContext> PrepareTlsContext(const Settings& settings, std::string& error) {
    CTlsFiles files = TlsFilesOf(settings);
    bool made = false;
    if (!EnsureOwnCertificate(files, made, error)) return nullptr;
    if (made) AddLiveTrace("TLS certificate made: " + files.certFile);
    return CTlsServerContext::Load(files.certFile, files.keyFile, error);
}

std::unique_ptr<CWebServer> StartHttpsFromSettings(
    Settings& settings, WebServerConfig config, int portOverride,
    const std::function<void(const std::string& line, bool problem)>& report) {
    if (portOverride < 0 && settings.HttpsPort() == 0) return nullptr;
    std::string error;
    std::shared_ptr<CTlsServerContext> context = PrepareTlsContext(settings, error);
    if (!context) {
        std::string line = "HTTPS is off: " + error;
        AddLiveTrace(line);
        if (report) report(line, true);
        return nullptr;
    }
    std::string line = "TLS certificate " + TlsFilesOf(settings).certFile +
                       ", SHA-256 fingerprint " + context->Fingerprint();
    AddLiveTrace(line);
    if (report) report(line, false);
    config.tls = std::move(context);
    return StartHttpsServer(settings, std::move(config), portOverride);
}
