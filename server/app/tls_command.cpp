// corvel tls fingerprint.
#include "server/app/tls_command.h"

#include <iostream>

#include "common/tls/tls_fingerprint.h"
#include "server/config/data_folder.h"
#include "server/config/settings.h"
#include "server/http/tls_setup.h"

int RunTlsFingerprint(const std::string& dataFolder, std::ostream& out, std::ostream& err) {
    Settings settings;
    settings.LoadSettingsFile(dataFolder);
    CTlsFiles files = TlsFilesOf(settings);
    std::string error;
    bool made = false;
    if (!EnsureOwnCertificate(files, made, error)) {
        err << "corvel tls fingerprint: " << error << "\n";
        return 1;
    }
    std::string fingerprint = FingerprintOfCertificateFile(files.certFile, error);
    if (fingerprint.empty()) {
        err << "corvel tls fingerprint: " << error << "\n";
        return 1;
    }
    if (made) out << "Certificate made: " << files.certFile << "\n";
    out << "SHA-256 fingerprint " << fingerprint << "\n";
    return 0;
}

void AddTlsCommand(CLI::App& app, CommandAction& chosen) {
    CLI::App* tls = app.add_subcommand("tls", "The HTTPS listener's certificate");
    tls->require_subcommand(1);
    CLI::App* fingerprint =
        tls->add_subcommand("fingerprint", "Show the SHA-256 fingerprint of the certificate");
    fingerprint->callback([&chosen] {
        chosen = [] { return RunTlsFingerprint(DefaultDataFolder(), std::cout, std::cerr); };
    });
}
