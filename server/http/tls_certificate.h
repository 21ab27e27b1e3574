// The certificate corvel makes for itself: a P-256 key and a self-signed
// certificate for the names and addresses the machine is reached by.
#pragma once

#include <string>
#include <vector>

// Writes a new key to keyFile (mode 0600) and a self-signed certificate for it to
// certFile (PEM both, each written whole under a temporary name and then renamed
// over the old one), valid for ten years, for the DNS names and the IP addresses
// (textual IPv4 or IPv6) given; the first name is also the subject. False with
// error naming the file when one cannot be written or an address is not one.
bool CreateSelfSignedCertificate(const std::string& certFile, const std::string& keyFile,
                                 const std::vector<std::string>& dnsNames,
                                 const std::vector<std::string>& ipAddresses, std::string& error);

// The machine's host name and "localhost"; its interfaces' addresses, loopback
// included, without IPv6 link-local ones.
std::vector<std::string> MachineNames();
std::vector<std::string> MachineAddresses();
