// Forwarding of virtual directories to other web servers.
#include "server/http/forwarding.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netdb.h>
#include <netinet/in.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <memory>
#include <mutex>
#include <random>
#include <set>

#include "server/config/live_trace.h"
#include "server/config/log_text.h"
#include "server/config/text_file.h"
#include "server/http/dump_message.h"
#include "server/http/socket_util.h"

namespace {

struct AddrInfoFree {
    void operator()(addrinfo* info) const { freeaddrinfo(info); }
};

bool IsLocalAddress(const in_addr& address) {
    if ((ntohl(address.s_addr) >> 24) == 127 || address.s_addr == htonl(INADDR_ANY)) return true;
    ifaddrs* raw = nullptr;
    if (getifaddrs(&raw) != 0) return false;
    struct Free {
        void operator()(ifaddrs* p) const { freeifaddrs(p); }
    };
    std::unique_ptr<ifaddrs, Free> list(raw);
    for (ifaddrs* it = list.get(); it != nullptr; it = it->ifa_next) {
        if (it->ifa_addr == nullptr || it->ifa_addr->sa_family != AF_INET) continue;
        const auto* local = reinterpret_cast<const sockaddr_in*>(it->ifa_addr);
        if (local->sin_addr.s_addr == address.s_addr) return true;
    }
    return false;
}

// A connected socket to the target, or an invalid one.
CSocket ConnectTarget(const CForwardTarget& target) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* raw = nullptr;
    std::string port = std::to_string(target.port);
    if (getaddrinfo(target.host.c_str(), port.c_str(), &hints, &raw) != 0 || raw == nullptr) {
        return CSocket();
    }
    std::unique_ptr<addrinfo, AddrInfoFree> list(raw);
    for (addrinfo* it = list.get(); it != nullptr; it = it->ai_next) {
        const auto* address = reinterpret_cast<const sockaddr_in*>(it->ai_addr);
        if (IsListeningPort(target.port) && IsLocalAddress(address->sin_addr)) {
            AddLiveTraceF("Forwarding to this server itself refused: %s:%d", target.host.c_str(),
                          target.port);
            return CSocket();
        }
        CSocket socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
        if (!socket.IsValid()) continue;
        if (connect(socket.Get(), it->ai_addr, it->ai_addrlen) == 0) return socket;
    }
    return CSocket();
}

// DumpMessage of the first kMaxLoggedBodyBytes of a message, escaped, and a line
// for what was left out: a large message never becomes a larger dump in memory.
std::string LoggedDump(std::string_view message, bool isRequest) {
    std::string_view shown = message.substr(0, std::min(message.size(), kMaxLoggedBodyBytes));
    CHTMLCommand parsed;
    parsed.ParseMessage(isRequest, shown.data(), shown.size());
    std::string dump = EscapeLogText(DumpMessage(parsed, shown, isRequest));
    if (shown.size() < message.size()) {
        if (!dump.empty() && dump.back() != '\n') dump += "\r\n";
        dump += NotLoggedLine(message.size() - shown.size(), "\r\n");
    }
    return dump;
}

std::string FirstLine(std::string_view text) {
    return std::string(text.substr(0, text.find_first_of("\r\n")));
}

// The ports this process listens on (one entry per listener); lock owns ports.
struct ListeningPorts {
    std::mutex lock;
    std::multiset<int> ports;
};

ListeningPorts& Listening() {
    static ListeningPorts listening;
    return listening;
}

}  // namespace

void RegisterListeningPort(int port) {
    ListeningPorts& l = Listening();
    std::lock_guard<std::mutex> lock(l.lock);
    l.ports.insert(port);
}

void UnregisterListeningPort(int port) {
    ListeningPorts& l = Listening();
    std::lock_guard<std::mutex> lock(l.lock);
    auto it = l.ports.find(port);
    if (it != l.ports.end()) l.ports.erase(it);
}

bool IsListeningPort(int port) {
    ListeningPorts& l = Listening();
    std::lock_guard<std::mutex> lock(l.lock);
    return l.ports.count(port) != 0;
}

const std::string& HopToken() {
    static const std::string token = [] {
        std::random_device random;
        char text[17];
        std::snprintf(text, sizeof text, "%08x%08x", random(), random());
        return std::string(text);
    }();
    return token;
}

bool ParseForwardUrl(std::string_view url, int defaultPort, CForwardTarget& target) {
    if (url.size() < 7 || strncasecmp(url.data(), "http://", 7) != 0) return false;
    std::string_view rest = url.substr(7);
    std::string_view authority = rest.substr(0, rest.find('/'));
    size_t colon = authority.find(':');
    target.host.assign(authority.substr(0, colon));
    if (target.host.empty()) return false;
    target.port = defaultPort;
    target.hostHeader = target.host;
    if (colon != std::string_view::npos) {
        std::string_view digits = authority.substr(colon + 1);
        if (digits.empty() || digits.size() > 5) return false;
        int port = 0;
        for (char c : digits) {
            if (c < '0' || c > '9') return false;
            port = port * 10 + (c - '0');
        }
        if (port < 1 || port > 65535) return false;
        target.port = port;
        target.hostHeader = std::string(authority);
    }
    return true;
}

std::string ForwardedUrl(std::string_view rawUrl, std::string_view name,
                         std::string_view remaining) {
    std::string prefix = "/" + std::string(name);
    std::string url;
    if (rawUrl.compare(0, prefix.size(), prefix) == 0) {
        url.assign(rawUrl.substr(prefix.size()));
    } else {
        size_t question = rawUrl.find('?');
        url.assign(remaining);
        if (question != std::string_view::npos) url.append(rawUrl.substr(question));
    }
    if (url.empty() || url[0] != '/') url.insert(0, "/");
    return url;
}

std::string RewriteRequest(std::string_view raw, std::string_view newUrl,
                           std::string_view hostHeader, std::string_view hopToken) {
    size_t lineEnd = raw.find('\n');
    std::string_view line = raw.substr(0, lineEnd);
    size_t first = line.find(' ');
    std::string out;
    if (first == std::string_view::npos) return std::string(raw);
    size_t second = line.find(' ', first + 1);
    out.append(line.substr(0, first + 1));
    out.append(newUrl);
    if (second != std::string_view::npos) out.append(line.substr(second));
    if (lineEnd == std::string_view::npos) return out;
    out += '\n';
    // Header lines up to the blank line; the Host value is replaced.
    size_t pos = lineEnd + 1;
    while (pos < raw.size()) {
        size_t end = raw.find('\n', pos);
        size_t next = end == std::string_view::npos ? raw.size() : end + 1;
        std::string_view headerLine = raw.substr(pos, next - pos);
        bool blank = headerLine == "\n" || headerLine == "\r\n";
        if (blank) {
            if (!hopToken.empty()) {
                out += std::string(kHopHeader) + ": ";
                out.append(hopToken);
                out.append(headerLine);
            }
            out.append(raw.substr(pos));
            return out;
        }
        if (headerLine.size() >= 5 && strncasecmp(headerLine.data(), "Host:", 5) == 0) {
            bool crlf = headerLine.size() >= 2 && headerLine[headerLine.size() - 2] == '\r';
            out += "Host: ";
            out.append(hostHeader);
            out += crlf ? "\r\n" : "\n";
        } else {
            out.append(headerLine);
        }
        pos = next;
    }
    return out;
}

void ForwardRequest(IAnswerStream& out, Settings& settings, const std::string& url,
                    const std::string& name, const std::string& remaining, std::string_view raw,
                    const ReceiveLimits& limits) {
    bool log = settings.TraceWEB();
    std::string folder = settings.DataFolder();
    CForwardTarget target;
    if (!ParseForwardUrl(url, kDefaultForwardPort, target)) {
        AddLiveTraceF("Forwarding URL %s is not usable", url.c_str());
        return;
    }
    {
        CHTMLCommand parsed;
        parsed.ParseMessage(true, raw.data(), raw.size());
        for (const CHTMLField& field : parsed.Fields()) {
            if (strcasecmp(field.name.c_str(), kHopHeader) == 0 &&
                field.value.find(HopToken()) != std::string::npos) {
                AddLiveTraceF("Forwarding refused: the request to %s came back to this server",
                              url.c_str());
                return;
            }
        }
    }
    CSocket connection = ConnectTarget(target);
    if (!connection.IsValid()) return;

    size_t lineEnd = raw.find_first_of("\r\n");
    std::string_view requestLine = raw.substr(0, lineEnd);
    size_t first = requestLine.find(' ');
    std::string_view rawUrl;
    if (first != std::string_view::npos) {
        rawUrl = requestLine.substr(first + 1);
        rawUrl = rawUrl.substr(0, rawUrl.find(' '));
    }
    std::string rewritten =
        RewriteRequest(raw, ForwardedUrl(rawUrl, name, remaining), target.hostHeader, HopToken());
    std::string entry;
    if (log) {
        entry = "\r\n!!!" + FormatLogStamp(std::time(nullptr)) + " ";
        CLogEscaper(false).Append(entry, FirstLine(rewritten));
        entry += "\r\n";
        entry += EscapeLogText(CutForLog(rewritten, kMaxLoggedBodyBytes, "\r\n"));
    }
    if (!SendAll(connection.Get(), rewritten)) {
        if (log) AppendToLogFile(folder + "/web.log", entry);
        return;
    }
    if (log) {
        entry += LoggedDump(rewritten, true);
        entry += "*********** Answer *******************\r\n";
    }
    CDataString answer;
    ReceiveResult received = ReceiveMessage(connection.Get(), answer, limits);
    std::string_view answerBytes(answer.Data(), received.count);
    out.Write(answerBytes);
    if (log) {
        AppendToLogFile(folder + "/webbin.log",
                        answerBytes.substr(0, std::min(answerBytes.size(), kMaxLoggedBodyBytes)));
        entry += LoggedDump(answerBytes, false);
        entry += "--------------------------------------------------------\r\n";
        AppendToLogFile(folder + "/web.log", entry);
    }
}
