// The answer-dropping relay of the sync matrix.
#include "tests/sync_matrix_proxy.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>

namespace {

constexpr int kGuardSeconds = 60;

void GuardReads(int fd) {
    timeval guard{kGuardSeconds, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &guard, sizeof guard);
}

// The Content-Length of a header block, or -1 when it has none.
long ContentLength(const std::string& header) {
    std::string lower = header;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return std::tolower(c); });
    size_t at = lower.find("\r\ncontent-length:");
    if (at == std::string::npos) return -1;
    at += 17;
    while (at < lower.size() && lower[at] == ' ') ++at;
    long length = 0;
    bool digits = false;
    while (at < lower.size() && std::isdigit(static_cast<unsigned char>(lower[at]))) {
        length = length * 10 + (lower[at++] - '0');
        digits = true;
    }
    return digits ? length : -1;
}

CSocket Connect(int port) {
    CSocket socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    GuardReads(socket.Get());
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(socket.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        return CSocket();
    return socket;
}

}  // namespace

std::string ReadHttpMessage(int fd) {
    std::string message;
    size_t headerEnd = std::string::npos;
    long length = -1;
    char piece[8192];
    for (;;) {
        if (headerEnd != std::string::npos && length >= 0 &&
            message.size() >= headerEnd + static_cast<size_t>(length)) {
            message.resize(headerEnd + static_cast<size_t>(length));
            return message;
        }
        ssize_t got = recv(fd, piece, sizeof piece, 0);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            // Without a length the message ends with the connection.
            return headerEnd != std::string::npos && length < 0 && got == 0 ? message : "";
        }
        message.append(piece, static_cast<size_t>(got));
        if (headerEnd == std::string::npos) {
            size_t blank = message.find("\r\n\r\n");
            if (blank != std::string::npos) {
                headerEnd = blank + 4;
                length = ContentLength(message.substr(0, headerEnd));
            }
        }
    }
}

AnswerDroppingProxy::AnswerDroppingProxy(int serverPort) : serverPort_(serverPort) {
    ListenStep step;
    std::string error;
    listener_ = CreateListener(0, true, 8, step, error);
    if (!listener_.IsValid()) return;
    port_ = LocalPort(listener_.Get());
    thread_ = std::thread([this] { Serve(); });
}

AnswerDroppingProxy::~AnswerDroppingProxy() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
}

void AnswerDroppingProxy::Serve() {
    while (!stop_) {
        pollfd waiting{listener_.Get(), POLLIN, 0};
        if (poll(&waiting, 1, 50) <= 0) continue;
        CSocket client(::accept4(listener_.Get(), nullptr, nullptr, SOCK_CLOEXEC));
        if (!client.IsValid()) continue;
        GuardReads(client.Get());
        Relay(client.Get());
    }
}

void AnswerDroppingProxy::Relay(int client) {
    std::string request = ReadHttpMessage(client);
    if (request.empty()) return;
    CSocket server = Connect(serverPort_);
    if (!server.IsValid() || !SendAll(server.Get(), request)) return;
    ++relayed_;
    std::string answer = ReadHttpMessage(server.Get());
    int drop = toDrop_.load();
    while (drop > 0 && !toDrop_.compare_exchange_weak(drop, drop - 1)) {
    }
    if (drop > 0) {
        ++dropped_;
        return;  // the client's connection closes with nothing sent
    }
    SendAll(client, answer);
    shutdown(client, SHUT_WR);
}
