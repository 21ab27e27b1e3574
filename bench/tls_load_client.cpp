// A load client for HTTPS servers: threads that each open a connection, shake
// hands (TLS 1.2/1.3, the certificate checked against a CA file), send one GET
// and read the answer until the server closes, again and again for the given
// seconds. Prints the answers per second and the MB/s received. The answer must
// begin with "HTTP/1." and a 200 status; others are counted as errors.
//
//   tls_load_client HOST PORT PATH CAFILE THREADS SECONDS
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "common/tls/tls_handles.h"

namespace {

struct Totals {
    std::atomic<long> answers{0};
    std::atomic<long> errors{0};
    std::atomic<long long> bytes{0};
};

int Connect(const sockaddr_in& address) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// One connection, one request; true when a 200 answer came whole.
bool OneRequest(SSL_CTX* context, const sockaddr_in& address, const std::string& host,
                const std::string& request, Totals& totals, std::vector<char>& piece) {
    int fd = Connect(address);
    if (fd < 0) return false;
    SslPtr ssl(SSL_new(context));
    SSL_set_fd(ssl.get(), fd);
    SSL_set_tlsext_host_name(ssl.get(), host.c_str());
    SSL_set1_host(ssl.get(), host.c_str());
    bool ok = SSL_connect(ssl.get()) == 1;
    size_t sent = 0;
    ok = ok && SSL_write_ex(ssl.get(), request.data(), request.size(), &sent) == 1;
    std::string head;
    long long received = 0;
    while (ok) {
        size_t got = 0;
        if (SSL_read_ex(ssl.get(), piece.data(), piece.size(), &got) != 1) break;
        if (head.size() < 16) head.append(piece.data(), std::min<size_t>(got, 16 - head.size()));
        received += static_cast<long long>(got);
    }
    ERR_clear_error();
    close(fd);
    totals.bytes += received;
    return ok && head.rfind("HTTP/1.", 0) == 0 && head.find(" 200 ") != std::string::npos;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 7) {
        std::fprintf(stderr, "usage: %s HOST PORT PATH CAFILE THREADS SECONDS\n", argv[0]);
        return 2;
    }
    std::string host = argv[1];
    int port = std::atoi(argv[2]);
    std::string request = std::string("GET ") + argv[3] + " HTTP/1.1\r\nHost: " + host +
                          "\r\nConnection: close\r\n\r\n";
    int threads = std::atoi(argv[5]);
    int seconds = std::atoi(argv[6]);
    SslCtxPtr context(SSL_CTX_new(TLS_client_method()));
    SSL_CTX_set_min_proto_version(context.get(), TLS1_2_VERSION);
    if (SSL_CTX_load_verify_locations(context.get(), argv[4], nullptr) != 1) {
        std::fprintf(stderr, "cannot read %s\n", argv[4]);
        return 1;
    }
    SSL_CTX_set_verify(context.get(), SSL_VERIFY_PEER, nullptr);
    // Every connection is a full handshake: no session is resumed.
    SSL_CTX_set_session_cache_mode(context.get(), SSL_SESS_CACHE_OFF);
    SSL_CTX_set_options(context.get(), SSL_OP_NO_TICKET | SSL_OP_IGNORE_UNEXPECTED_EOF);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    inet_pton(AF_INET, host == "localhost" ? "127.0.0.1" : host.c_str(), &address.sin_addr);

    Totals totals;
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    auto start = std::chrono::steady_clock::now();
    std::vector<std::thread> workers;
    for (int i = 0; i < threads; ++i) {
        workers.emplace_back([&] {
            std::vector<char> piece(64 * 1024);
            while (std::chrono::steady_clock::now() < end) {
                if (OneRequest(context.get(), address, host, request, totals, piece)) {
                    ++totals.answers;
                } else {
                    ++totals.errors;
                }
            }
        });
    }
    for (std::thread& worker : workers) worker.join();
    double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("answers/s %.1f MB/s %.1f errors %ld\n", totals.answers / elapsed,
                static_cast<double>(totals.bytes) / elapsed / (1024 * 1024), totals.errors.load());
    return 0;
}
