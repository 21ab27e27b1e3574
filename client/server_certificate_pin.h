// The server certificate skiff keeps: the SHA-256 fingerprint it trusts for the
// configured server, taken on the first HTTPS connection or given by the user,
// kept in the data folder as server-certificate.txt (two lines: the server as
// configured, the fingerprint). A kept fingerprint counts only for the server it
// was kept for.
//
// Thread use: any thread; the sync run and "skiff config" do not run at once
// (the data folder's lock).
#pragma once

#include <string>

inline constexpr const char* kServerCertificateFile = "server-certificate.txt";

// The fingerprint kept for server; empty when none is, or one is kept for another.
std::string KeptFingerprint(const std::string& dataFolder, const std::string& server);
// Keeps fingerprint for server (replacing what was kept); false when it cannot be written.
bool KeepFingerprint(const std::string& dataFolder, const std::string& server,
                     const std::string& fingerprint);
// Forgets the kept fingerprint; true when none is kept afterwards.
bool ForgetFingerprint(const std::string& dataFolder);
