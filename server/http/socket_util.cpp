// Socket helpers over POSIX.
#include "server/http/socket_util.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

CSocket& CSocket::operator=(CSocket&& other) noexcept {
    if (this != &other) {
        Close();
        fd_ = other.Release();
    }
    return *this;
}

int CSocket::Release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
}

void CSocket::Close() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
}

CSocket CreateListener(int port, bool loopbackOnly, int backlog, ListenStep& failedStep,
                       std::string& error) {
    CSocket socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!socket.IsValid()) {
        failedStep = ListenStep::kSocket;
        error = std::strerror(errno);
        return CSocket();
    }
    int on = 1;
    setsockopt(socket.Get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(loopbackOnly ? INADDR_LOOPBACK : INADDR_ANY);
    if (port < 0 || port > 65535 ||
        bind(socket.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        failedStep = ListenStep::kBind;
        error = (port < 0 || port > 65535) ? "port out of range" : std::strerror(errno);
        return CSocket();
    }
    if (listen(socket.Get(), backlog) != 0) {
        failedStep = ListenStep::kListen;
        error = std::strerror(errno);
        return CSocket();
    }
    return socket;
}

int LocalPort(int fd) {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) return 0;
    return ntohs(address.sin_port);
}

bool SendAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t sent = send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (sent < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        bytes.remove_prefix(static_cast<size_t>(sent));
    }
    return true;
}

void LowerThreadPriority() {
    // On Linux the nice value belongs to the thread and a new thread inherits its
    // creator's: one step below the main thread's (normal) value, not one below
    // whatever the creating thread already had.
    pid_t thread = static_cast<pid_t>(syscall(SYS_gettid));
    errno = 0;
    int normal = getpriority(PRIO_PROCESS, static_cast<id_t>(getpid()));
    if (errno == 0) setpriority(PRIO_PROCESS, static_cast<id_t>(thread), normal + 1);
}

unsigned long RaiseOpenFileLimit() {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return 0;
    if (limit.rlim_cur < limit.rlim_max) {
        rlimit raised = limit;
        raised.rlim_cur = limit.rlim_max;
        if (setrlimit(RLIMIT_NOFILE, &raised) == 0) limit = raised;
    }
    return static_cast<unsigned long>(limit.rlim_cur);
}
