// Owning handles of OpenSSL objects: each frees its object once, with the
// library's own free function.
#pragma once

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <memory>

struct CSslCtxFree {
    void operator()(SSL_CTX* p) const { SSL_CTX_free(p); }
};
struct CSslFree {
    void operator()(SSL* p) const { SSL_free(p); }
};
struct CX509Free {
    void operator()(X509* p) const { X509_free(p); }
};
struct CEvpPkeyFree {
    void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
};
struct CBioFree {
    void operator()(BIO* p) const { BIO_free_all(p); }
};

using SslCtxPtr = std::unique_ptr<SSL_CTX, CSslCtxFree>;
using SslPtr = std::unique_ptr<SSL, CSslFree>;
using X509Ptr = std::unique_ptr<X509, CX509Free>;
using EvpPkeyPtr = std::unique_ptr<EVP_PKEY, CEvpPkeyFree>;
using BioPtr = std::unique_ptr<BIO, CBioFree>;
