// The HTTPS listener as settings.inf describes it: the certificate and key of
// TlsCertFile / TlsKeyFile, or, when neither is set, corvel's own pair in the data
// folder (made on the first start, and again when its certificate file is gone).
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "server/config/settings.h"
#include "server/http/tls_transport.h"
#include "server/http/web_server.h"

inline constexpr const char* kOwnCertificateName = "tls-certificate.pem";
inline constexpr const char* kOwnKeyName = "tls-key.pem";

struct CTlsFiles {
    std::string certFile;
    std::string keyFile;
    bool own = false;  // corvel's own pair in the data folder
};

// The files the HTTPS listener uses.
CTlsFiles TlsFilesOf(const Settings& settings);

// Makes corvel's own pair when files.own and the certificate file is missing.
// False with error when it could not; made tells whether it did.
bool EnsureOwnCertificate(const CTlsFiles& files, bool& made, std::string& error);

// The TLS context of the files; null with error (the file named) when they
// cannot be used.
std::shared_ptr<CTlsServerContext> PrepareTlsContext(const Settings& settings, std::string& error);

// Starts the HTTPS listener (see StartHttpsServer) with the context of the
// settings' files. Says what it uses to report, problem false ("TLS certificate
// <file>, SHA-256 fingerprint <fingerprint>"), or why HTTPS stays off, problem
// true; both go to the live trace as well. Null when HTTPS is off.
std::unique_ptr<CWebServer> StartHttpsFromSettings(
    Settings& settings, WebServerConfig config, int portOverride,
    const std::function<void(const std::string& line, bool problem)>& report);
