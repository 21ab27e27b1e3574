// Making the self-signed certificate.
#include "server/http/tls_certificate.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509v3.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "common/tls/tls_errors.h"
#include "common/tls/tls_handles.h"

namespace {

constexpr long kValidSeconds = 10L * 366 * 24 * 3600;
constexpr int kSerialBits = 127;

struct CFileClose {
    void operator()(FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<FILE, CFileClose>;

bool AddExtension(X509* certificate, int nid, const std::string& value) {
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, certificate, certificate, nullptr, nullptr, 0);
    X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value.c_str());
    if (extension == nullptr) return false;
    bool added = X509_add_ext(certificate, extension, -1) == 1;
    X509_EXTENSION_free(extension);
    return added;
}

// Writes what write puts into a FILE to path through path + ".new" with mode.
template <typename Write>
bool WriteFileThroughTemporary(const std::string& path, mode_t mode, Write write,
                               std::string& error) {
    std::string temporary = path + ".new";
    unlink(temporary.c_str());
    int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd < 0) {
        error = temporary + " cannot be written: " + std::strerror(errno);
        return false;
    }
    FilePtr file(fdopen(fd, "w"));
    if (!file) {
        close(fd);
        unlink(temporary.c_str());
        error = temporary + " cannot be written";
        return false;
    }
    bool written = write(file.get()) && std::fflush(file.get()) == 0 && fsync(fd) == 0;
    written = std::fclose(file.release()) == 0 && written;
    if (!written || rename(temporary.c_str(), path.c_str()) != 0) {
        error = path + " cannot be written: " + std::strerror(errno);
        unlink(temporary.c_str());
        return false;
    }
    return true;
}

}  // namespace

bool CreateSelfSignedCertificate(const std::string& certFile, const std::string& keyFile,
                                 const std::vector<std::string>& dnsNames,
                                 const std::vector<std::string>& ipAddresses, std::string& error) {
    ERR_clear_error();
    EvpPkeyPtr key(EVP_EC_gen("P-256"));
    X509Ptr certificate(X509_new());
    if (!key || !certificate) {
        error = "no key could be made: " + TakeTlsError();
        return false;
    }
    X509* cert = certificate.get();
    X509_set_version(cert, 2);
    std::unique_ptr<BIGNUM, decltype(&BN_free)> serial(BN_new(), BN_free);
    if (!serial || BN_rand(serial.get(), kSerialBits, BN_RAND_TOP_ANY, BN_RAND_BOTTOM_ANY) != 1 ||
        BN_to_ASN1_INTEGER(serial.get(), X509_get_serialNumber(cert)) == nullptr) {
        error = "no serial number could be made: " + TakeTlsError();
        return false;
    }
    X509_gmtime_adj(X509_getm_notBefore(cert), -3600);
    X509_gmtime_adj(X509_getm_notAfter(cert), kValidSeconds);
    X509_set_pubkey(cert, key.get());
    std::string subject = dnsNames.empty() ? std::string("localhost") : dnsNames.front();
    X509_NAME* name = X509_get_subject_name(cert);
    X509_NAME_add_entry_by_txt(name, "O", MBSTRING_UTF8,
                               reinterpret_cast<const unsigned char*>("Corvel"), -1, -1, 0);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8,
                               reinterpret_cast<const unsigned char*>(subject.c_str()), -1, -1, 0);
    X509_set_issuer_name(cert, name);
    std::string alternatives;
    for (const std::string& dns : dnsNames) {
        if (dns.empty() || dns.find_first_of(",:") != std::string::npos) continue;
        alternatives += (alternatives.empty() ? "DNS:" : ",DNS:") + dns;
    }
    for (const std::string& ip : ipAddresses) {
        std::array<unsigned char, sizeof(in6_addr)> parsed{};
        if (inet_pton(AF_INET, ip.c_str(), parsed.data()) != 1 &&
            inet_pton(AF_INET6, ip.c_str(), parsed.data()) != 1) {
            error = ip + " is not an IP address";
            return false;
        }
        alternatives += (alternatives.empty() ? "IP:" : ",IP:") + ip;
    }
    bool extended =
        AddExtension(cert, NID_basic_constraints, "critical,CA:FALSE") &&
        AddExtension(cert, NID_key_usage, "critical,digitalSignature") &&
        AddExtension(cert, NID_ext_key_usage, "serverAuth") &&
        AddExtension(cert, NID_subject_key_identifier, "hash") &&
        (alternatives.empty() || AddExtension(cert, NID_subject_alt_name, alternatives));
    if (!extended || X509_sign(cert, key.get(), EVP_sha256()) == 0) {
        error = "the certificate could not be made: " + TakeTlsError();
        return false;
    }
    if (!WriteFileThroughTemporary(
            keyFile, 0600,
            [&](FILE* file) {
                return PEM_write_PrivateKey(file, key.get(), nullptr, nullptr, 0, nullptr,
                                            nullptr) == 1;
            },
            error)) {
        return false;
    }
    return WriteFileThroughTemporary(
        certFile, 0644, [&](FILE* file) { return PEM_write_X509(file, cert) == 1; }, error);
}

std::vector<std::string> MachineNames() {
    std::vector<std::string> names;
    std::array<char, 256> host{};
    if (gethostname(host.data(), host.size() - 1) == 0 && host[0] != 0) {
        names.emplace_back(host.data());
    }
    if (std::find(names.begin(), names.end(), "localhost") == names.end()) {
        names.emplace_back("localhost");
    }
    return names;
}

std::vector<std::string> MachineAddresses() {
    std::vector<std::string> addresses{"127.0.0.1", "::1"};
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return addresses;
    std::unique_ptr<ifaddrs, decltype(&freeifaddrs)> owned(list, freeifaddrs);
    for (ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_addr == nullptr) continue;
        std::array<char, INET6_ADDRSTRLEN> text{};
        if (entry->ifa_addr->sa_family == AF_INET) {
            const auto* in = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr);
            if (inet_ntop(AF_INET, &in->sin_addr, text.data(), text.size()) == nullptr) continue;
        } else if (entry->ifa_addr->sa_family == AF_INET6) {
            const auto* in6 = reinterpret_cast<const sockaddr_in6*>(entry->ifa_addr);
            if (IN6_IS_ADDR_LINKLOCAL(&in6->sin6_addr)) continue;
            if (inet_ntop(AF_INET6, &in6->sin6_addr, text.data(), text.size()) == nullptr) {
                continue;
            }
        } else {
            continue;
        }
        std::string address = text.data();
        if (std::find(addresses.begin(), addresses.end(), address) == addresses.end()) {
            addresses.push_back(address);
        }
    }
    return addresses;
}
