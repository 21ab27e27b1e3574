// The kept server certificate fingerprint.
#include "client/server_certificate_pin.h"

#include <unistd.h>

#include <cerrno>
#include <vector>

#include "client/state_files.h"
#include "common/tls/tls_fingerprint.h"

namespace {

std::string PathIn(const std::string& dataFolder) {
    return dataFolder + "/" + kServerCertificateFile;
}

}  // namespace

std::string KeptFingerprint(const std::string& dataFolder, const std::string& server) {
    std::vector<std::string> lines = ReadLineFile(PathIn(dataFolder));
    if (lines.size() < 2 || lines[0] != server) return std::string();
    // A file edited by hand into something else is no fingerprint: nothing is trusted
    // by it, and the next connection asks again.
    return ParseFingerprint(lines[1]).value_or(std::string());
}

bool KeepFingerprint(const std::string& dataFolder, const std::string& server,
                     const std::string& fingerprint) {
    return WriteLineFile(PathIn(dataFolder), {server, fingerprint});
}

bool ForgetFingerprint(const std::string& dataFolder) {
    return unlink(PathIn(dataFolder).c_str()) == 0 || errno == ENOENT;
}
