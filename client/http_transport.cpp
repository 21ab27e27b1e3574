// Connection step, request writer and answer reader over POSIX sockets.
#include "client/http_transport.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <string_view>

#include "client/client_log.h"
#include "common/base/unique_fd.h"
#include "platform/win/conn_mgr.h"

namespace {

// The platform's code for a failed name lookup.
constexpr int kHostNotFound = 11001;

bool SendAll(int fd, const char* data, size_t length) {
    while (length > 0) {
        ssize_t n = ::send(fd, data, length, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        length -= static_cast<size_t>(n);
    }
    return true;
}

size_t Find(std::string_view text, std::string_view what) { return text.find(what); }

// Connects, waiting at most kConnectPolls steps of kAnswerPollStep and ending early
// on a stop request (a host that drops the packets would otherwise hold the run for
// minutes). 0 when connected, else the error number (ETIMEDOUT, ECANCELED, ...).
int ConnectWithin(int fd, const sockaddr_in& address, const std::atomic<bool>* stop) {
    int flags = ::fcntl(fd, F_GETFL, 0);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) return errno;
    int result = 0;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        result = errno;
        if (result == EINPROGRESS) {
            result = ETIMEDOUT;
            for (int i = 0; i < kConnectPolls; ++i) {
                if (stop && stop->load()) {
                    result = ECANCELED;
                    break;
                }
                pollfd p{fd, POLLOUT, 0};
                int ready = ::poll(&p, 1, static_cast<int>(kAnswerPollStep.count()));
                if (ready < 0 && errno == EINTR) continue;
                if (ready < 0) {
                    result = errno;
                    break;
                }
                if (ready > 0) {
                    socklen_t len = sizeof result;
                    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &result, &len) != 0) result = errno;
                    break;
                }
            }
        }
    }
    if (::fcntl(fd, F_SETFL, flags) != 0 && result == 0) result = errno;
    return result;
}

}  // namespace

uintptr_t OpenNetworkConnection() {
    ConnMgrGuid network;
    uint32_t index = 0;
    long result = ConnMgrMapURL(kConnMgrProbeUrl, &network, &index);
    AddLogLineF("ConnMgrMapURL = %lx", static_cast<unsigned long>(result));
    if (result != 0) return 0;
    AddLogLine("connecting");
    CONNMGR_CONNECTIONINFO info{.cbSize = 64,
                                .dwParams = CONNMGR_PARAM_GUIDDESTNET,
                                .dwFlags = CONNMGR_FLAG_PROXY_HTTP,
                                .dwPriority = CONNMGR_PRIORITY_USERINTERACTIVE,
                                .bExclusive = false,
                                .bDisabled = false,
                                .guidDestNet = network,
                                .uMsg = 1025,
                                .lParam = 1};
    uintptr_t handle = 0;
    uint32_t status = 0;
    result = ConnMgrEstablishConnectionSync(&info, &handle, 10000, &status);
    AddLogLineF("ConnMgrEstablish.. = %lx", static_cast<unsigned long>(result));
    return result == 0 ? handle : 0;
}

void ReleaseNetworkConnection(uintptr_t handle) {
    if (handle != 0) ConnMgrReleaseConnection(handle, 1);
}

bool IsHttpsUrl(std::string_view text) {
    return text.size() >= 8 && strncasecmp(text.data(), "https://", 8) == 0;
}

std::string ServerUrl(const std::string& server) {
    bool plain = server.size() >= 7 && strncasecmp(server.data(), "http://", 7) == 0;
    return IsHttpsUrl(server) || plain ? server : "http://" + server;
}

bool SplitUrl(const std::string& url, std::string& host, uint16_t& port, std::string& path,
              bool* secure) {
    std::string_view rest(url);
    bool https = IsHttpsUrl(rest);
    if (secure) *secure = https;
    if (https) {
        rest.remove_prefix(8);
    } else if (rest.size() >= 7 && strncasecmp(rest.data(), "http://", 7) == 0) {
        rest.remove_prefix(7);
    }
    size_t slash = rest.find('/');
    std::string_view authority = rest.substr(0, slash);
    path = slash == std::string_view::npos ? std::string() : std::string(rest.substr(slash + 1));
    port = https ? 443 : 80;
    size_t colon = authority.rfind(':');
    if (colon != std::string_view::npos) {
        std::string_view digits = authority.substr(colon + 1);
        unsigned long value = 0;
        if (digits.empty() || digits.size() > 5) return false;
        for (char c : digits) {
            if (c < '0' || c > '9') return false;
            value = value * 10 + static_cast<unsigned long>(c - '0');
        }
        if (value < 1 || value > 65535) return false;
        port = static_cast<uint16_t>(value);
        authority = authority.substr(0, colon);
    }
    host = std::string(authority);
    return true;
}

int HttpStatusCode(std::string_view answer) {
    if (answer.substr(0, 5) != "HTTP/") return 0;
    size_t space = answer.find(' ');
    if (space == std::string_view::npos || space > 16 || answer.size() < space + 4) return 0;
    int code = 0;
    for (size_t i = space + 1; i < space + 4; ++i) {
        if (answer[i] < '0' || answer[i] > '9') return 0;
        code = code * 10 + (answer[i] - '0');
    }
    return code;
}

bool IsAnswerComplete(const char* data, size_t count, size_t& wholeLength) {
    std::string_view text(data, count);
    size_t bodyStart;
    size_t at = Find(text, "\r\n\r\n");
    if (at != std::string_view::npos) {
        bodyStart = at + 4;
    } else if ((at = Find(text, "\n\r\n\r")) != std::string_view::npos) {
        bodyStart = at + 4;
    } else if ((at = Find(text, "\n\n")) != std::string_view::npos) {
        bodyStart = at + 2;
    } else {
        return false;
    }
    std::string_view header = text.substr(0, bodyStart);
    size_t field = Find(header, "Content-Length:");
    if (field == std::string_view::npos) {
        wholeLength = count;
        return true;
    }
    size_t pos = field + 15;
    while (pos < header.size() && header[pos] == ' ') ++pos;
    uint64_t length = 0;
    for (; pos < header.size() && header[pos] >= '0' && header[pos] <= '9'; ++pos) {
        length = length * 10 + static_cast<uint64_t>(header[pos] - '0');
        if (length > kMaxAnswerBytes) return false;  // never complete: the limit ends the read
    }
    if (count - bodyStart < length) return false;
    wholeLength = bodyStart + static_cast<size_t>(length);
    return true;
}

namespace {

// Where an answer's bytes come from: the socket polled for readiness, and a receive
// step (the count, 0 at the end, below 0 on a failure); pending tells of bytes that
// are there without the socket being readable (decrypted ahead).
struct AnswerSource {
    int socket = -1;
    std::function<long(char*, size_t)> receive;
    std::function<bool()> pending;
};

size_t ReadAnswer(const AnswerSource& source, CDataString& buffer, int waitUnits, bool& complete,
                  const std::atomic<bool>* stop, std::chrono::milliseconds step,
                  std::chrono::milliseconds stoppedWait);

}  // namespace

size_t ReadHttpAnswer(int socket, CDataString& buffer, int waitUnits, bool& complete,
                      const std::atomic<bool>* stop, std::chrono::milliseconds step,
                      std::chrono::milliseconds stoppedWait) {
    AnswerSource source;
    source.socket = socket;
    source.receive = [socket](char* data, size_t size) -> long {
        for (;;) {
            ssize_t n = ::recv(socket, data, size, 0);
            if (n < 0 && errno == EINTR) continue;
            return static_cast<long>(n);
        }
    };
    source.pending = [] { return false; };
    return ReadAnswer(source, buffer, waitUnits, complete, stop, step, stoppedWait);
}

namespace {

size_t ReadAnswer(const AnswerSource& source, CDataString& buffer, int waitUnits, bool& complete,
                  const std::atomic<bool>* stop, std::chrono::milliseconds step,
                  std::chrono::milliseconds stoppedWait) {
    const int socket = source.socket;
    buffer.Init(1024, 1024);
    complete = false;
    const long budget = static_cast<long>(waitUnits) * 100;
    long polls = 0;
    std::vector<char> piece(64 * 1024);
    size_t received = 0;
    const long stoppedBudget =
        std::max<long>(1, static_cast<long>(stoppedWait.count() / std::max<long>(1, step.count())));
    while (true) {
        if (!source.pending()) {
            pollfd p{socket, POLLIN, 0};
            int ready = ::poll(&p, 1, static_cast<int>(step.count()));
            if (ready < 0 && errno == EINTR) continue;
            if (ready < 0) break;
            if (ready == 0) {
                ++polls;
                if (polls >= budget || (stop && stop->load() && polls >= stoppedBudget)) break;
                continue;
            }
        }
        long n = source.receive(piece.data(), piece.size());
        if (n <= 0) break;  // closed or failed
        polls = 0;
        size_t take = std::min(static_cast<size_t>(n), kMaxAnswerBytes - received);
        buffer.AppendBytes(take, piece.data());
        if (buffer.Failed()) break;
        received += take;
        size_t whole = 0;
        if (IsAnswerComplete(buffer.Data(), received, whole)) {
            complete = true;
            received = whole;
            break;
        }
        if (received >= kMaxAnswerBytes) break;
    }
    buffer.Truncate(received);
    // The buffer keeps its bytes mode; the zero after them is written by the buffer.
    return received;
}

}  // namespace

bool SendHttpRequest(const std::string& url, HttpRequest& request, const std::string& method,
                     const std::atomic<bool>* stop, std::chrono::milliseconds stoppedWait) {
    std::string host, path;
    uint16_t port = 80;
    bool secure = false;
    request.answerComplete = false;
    request.tls = TlsHandshakeResult{};
    if (!SplitUrl(url, host, port, path, &secure)) {
        AddLogLineF("%x %s", kHostNotFound, "gethostbyname");
        return false;
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (host.empty() || ::getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || !found) {
        AddLogLineF("%x %s", kHostNotFound, "gethostbyname");
        return false;
    }
    sockaddr_in address{};
    std::memcpy(&address, found->ai_addr, sizeof address);
    ::freeaddrinfo(found);
    address.sin_port = htons(port);

    UniqueFd sock(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    int error = sock.get() < 0 ? errno : ConnectWithin(sock.get(), address, stop);
    if (error != 0) {
        AddLogLineF("%x %s", error, "connect");
        return false;
    }
    std::string head = method + " " + path + " HTTP/1.1\r\n";
    for (const auto& [name, value] : request.headers) {
        if (!name.empty()) head += name + ": " + value + "\r\n";
    }
    if (!request.body.empty()) {
        head += "Content-Length: " + std::to_string(request.body.size()) + "\r\n";
        head += "Content-Size: " + std::to_string(request.body.size()) + "\r\n";
    }
    head += "\r\n";
    bool complete = false;
    size_t count = 0;
    if (secure) {
        CTlsClientConnection tls(sock.get());
        request.tls = tls.Handshake(host, request.pinnedFingerprint, request.tlsHandshakeTimeout);
        if (!request.tls.Trusted()) {
            AddLogLine(request.tls.reason);
            return false;
        }
        if (!tls.Send(head) || !tls.Send(request.body)) {
            AddLogLineF("%x %s", errno, "send");
            return false;
        }
        AnswerSource source;
        source.socket = sock.get();
        source.receive = [&tls](char* data, size_t size) { return tls.Receive(data, size); };
        source.pending = [&tls] { return tls.Pending() > 0; };
        count = ReadAnswer(source, request.answerBuffer, kAnswerWaitUnits, complete, stop,
                           kAnswerPollStep, stoppedWait);
    } else {
        if (!SendAll(sock.get(), head.data(), head.size()) ||
            !SendAll(sock.get(), request.body.data(), request.body.size())) {
            AddLogLineF("%x %s", errno, "send");
            return false;
        }
        count = ReadHttpAnswer(sock.get(), request.answerBuffer, kAnswerWaitUnits, complete, stop,
                               kAnswerPollStep, stoppedWait);
    }
    request.answerComplete = complete;
    request.answer.ParseMessage(false, request.answerBuffer.Data(), count);
    return true;
}
