// The epoll loop of the web server's connections and its worker pool.
#include "server/http/connection_loop.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <unordered_map>
#include <vector>

#include "common/http/message_framing.h"
#include "server/config/live_trace.h"
#include "server/http/connection_workers.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint64_t kWakeId = 0;      // the eventfd
constexpr uint64_t kListenerId = 1;  // the listening socket
constexpr size_t kReadPiece = 64 * 1024;
// Bytes read from one connection per wake-up, so one fast sender does not hold
// the loop while others wait.
constexpr size_t kReadPerWake = 256 * 1024;
// Room CDataString keeps free after an append, at most: the same figure the
// buffer uses, or a body given its room exactly would seem to need a doubling
// at its last piece and be dropped against the budget.
constexpr size_t kGrowthSlack = CDataString::kAppendSlack;

bool SetBlocking(int fd, bool blocking) {
    int flags = fcntl(fd, F_GETFL, 0);
    if (flags < 0) return false;
    flags = blocking ? (flags & ~O_NONBLOCK) : (flags | O_NONBLOCK);
    return fcntl(fd, F_SETFL, flags) == 0;
}

enum class Phase { kHandshake, kHead, kBody, kHandedOver, kLinger };

struct Connection {
    uint64_t id = 0;
    int fd = -1;
    Phase phase = Phase::kHead;
    std::unique_ptr<IConnectionTransport> transport;
    std::unique_ptr<CReceivedRequest> request;  // from the first byte on
    CMessageFraming framing;
    size_t charged = 0;  // bytes counted against the body budget
    Clock::time_point deadline;
    bool hasDeadline = false;
    size_t windowStartCount = 0;  // body bytes at the start of the current window
    size_t discarded = 0;         // linger: bytes read and dropped
    bool crashed = false;         // the handler threw
    bool readable = true;         // registered for reading
    uint32_t watched = EPOLLIN;   // the events registered (a handshake may wait to write)
};

}  // namespace

// The listen state's mutex owns everything below up to the loop-only part; changed
// is also notified when a request was answered.
struct CConnectionLoop::State : std::enable_shared_from_this<CConnectionLoop::State>, CListenState {
    CConnectionLimits limits;
    Handler handler;
    TransportFactory transports;

    bool running = false;
    std::deque<std::unique_ptr<Connection>> jobs;      // complete requests waiting
    std::deque<std::unique_ptr<Connection>> finished;  // handled, back to the loop
    std::set<int> busySockets;                         // handed over, for Stop
    size_t busy = 0;  // handed over: waiting for a worker or being answered
    int wakeFd = -1;
    // The workers while Run runs: the shared ones, or the loop's own.
    CConnectionWorkers* pool = nullptr;

    std::atomic<size_t> open{0};
    std::atomic<size_t> held{0};

    // The loop thread's own.
    int epollFd = -1;
    std::unordered_map<uint64_t, std::unique_ptr<Connection>> connections;
    std::set<std::pair<Clock::time_point, uint64_t>> deadlines;
    uint64_t nextId = 2;
    size_t heldBytes = 0;
    bool acceptPaused = false;
    Clock::time_point acceptResume;
    // Where requests are read into before they are appended (made once, not per read).
    std::unique_ptr<char[]> readPiece = std::make_unique<char[]>(kReadPiece);

    void Wake() {
        uint64_t one = 1;
        if (wakeFd >= 0) (void)!write(wakeFd, &one, sizeof one);
    }

    void Charge(Connection& c, size_t bytes) {
        c.charged += bytes;
        heldBytes += bytes;
        held = heldBytes;
        pool->AddHeld(bytes);
    }
    void Uncharge(Connection& c) {
        heldBytes -= c.charged;
        pool->RemoveHeld(c.charged);
        c.charged = 0;
        held = heldBytes;
    }
    // True when growth more bytes would take what all loops of the pool hold past
    // the budget. Two loops may each pass this check at once: the budget then
    // holds within one read of each.
    bool PassesBudget(size_t growth) const {
        return pool->HeldBytes() + growth > limits.bodyBudgetBytes;
    }

    void SetDeadline(Connection& c, Clock::time_point at) {
        if (c.hasDeadline) deadlines.erase({c.deadline, c.id});
        c.deadline = at;
        c.hasDeadline = true;
        deadlines.insert({at, c.id});
    }
    void ClearDeadline(Connection& c) {
        if (c.hasDeadline) deadlines.erase({c.deadline, c.id});
        c.hasDeadline = false;
    }

    void Close(std::unique_ptr<Connection> c) {
        ClearDeadline(*c);
        Uncharge(*c);
        if (c->fd >= 0) close(c->fd);  // leaves the epoll set by itself
        c->fd = -1;
        --open;
    }
    void CloseById(uint64_t id) {
        auto it = connections.find(id);
        if (it == connections.end()) return;
        std::unique_ptr<Connection> c = std::move(it->second);
        connections.erase(it);
        Close(std::move(c));
    }

    void Accept(int listenFd);
    void Ready(Connection& c);
    void Shake(Connection& c);
    bool Watch(Connection& c, uint32_t events);
    void ReadRequest(Connection& c);
    void ReadLinger(Connection& c);
    void HandOver(uint64_t id);
    void Expire(uint64_t id, Clock::time_point now);
    void TakeFinished();
    void ServeOne();
    void Serve(Connection& c);
};

void CConnectionLoop::State::Accept(int listenFd) {
    for (;;) {
        int fd = accept4(listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR) continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) return;
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
                // Out of descriptors: stop accepting for a while rather than spin.
                epoll_ctl(epollFd, EPOLL_CTL_DEL, listenFd, nullptr);
                acceptPaused = true;
                acceptResume = Clock::now() + limits.acceptPause;
                return;
            }
            return;  // the peer went away before accept (ECONNABORTED and the like)
        }
        if (open >= limits.maxConnections) {
            close(fd);
            continue;
        }
        int on = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        auto c = std::make_unique<Connection>();
        c->id = nextId++;
        c->fd = fd;
        try {
            c->transport = transports ? transports(fd) : std::make_unique<CPlainTransport>(fd);
        } catch (...) {
            c->transport.reset();
        }
        if (!c->transport) {
            close(fd);
            continue;
        }
        bool handshake = c->transport->IsSecure();
        if (handshake) c->phase = Phase::kHandshake;
        epoll_event event{};
        event.events = EPOLLIN | EPOLLRDHUP;
        event.data.u64 = c->id;
        if (epoll_ctl(epollFd, EPOLL_CTL_ADD, fd, &event) != 0) {
            close(fd);
            continue;
        }
        ++open;
        SetDeadline(*c, Clock::now() + (handshake ? limits.handshakeTimeout : limits.headTimeout));
        connections.emplace(c->id, std::move(c));
    }
}

void CConnectionLoop::State::Ready(Connection& c) {
    if (c.phase == Phase::kLinger) {
        ReadLinger(c);
    } else if (c.phase == Phase::kHandshake) {
        Shake(c);
    } else {
        ReadRequest(c);
    }
}

bool CConnectionLoop::State::Watch(Connection& c, uint32_t events) {
    if (c.watched == events) return true;
    c.watched = events;
    epoll_event event{};
    event.events = events | EPOLLRDHUP;
    event.data.u64 = c.id;
    return epoll_ctl(epollFd, EPOLL_CTL_MOD, c.fd, &event) == 0;
}

void CConnectionLoop::State::Shake(Connection& c) {
    switch (c.transport->Handshake()) {
        case IConnectionTransport::Step::kWantRead:
            if (!Watch(c, EPOLLIN)) CloseById(c.id);
            return;
        case IConnectionTransport::Step::kWantWrite:
            if (!Watch(c, EPOLLOUT)) CloseById(c.id);
            return;
        case IConnectionTransport::Step::kFailed:
            CloseById(c.id);  // not TLS, or refused: nothing is answered
            return;
        case IConnectionTransport::Step::kDone:
            break;
    }
    if (!Watch(c, EPOLLIN)) {
        CloseById(c.id);
        return;
    }
    c.phase = Phase::kHead;
    SetDeadline(c, Clock::now() + limits.headTimeout);
    // The request may have come with the handshake's last bytes.
    ReadRequest(c);
}

void CConnectionLoop::State::ReadLinger(Connection& c) {
    char scratch[4096];
    for (;;) {
        ssize_t got = recv(c.fd, scratch, sizeof scratch, 0);
        if (got > 0) {
            c.discarded += static_cast<size_t>(got);
            if (c.discarded > limits.maxLingerDiscard) break;
            continue;
        }
        if (got < 0 && errno == EINTR) continue;
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
        break;  // the peer closed, or the socket failed
    }
    CloseById(c.id);
}

void CConnectionLoop::State::ReadRequest(Connection& c) {
    uint64_t id = c.id;
    size_t readNow = 0;
    bool peerClosed = false;
    char* piece = readPiece.get();
    // Bytes a transport holds already are read in this round: no wake-up comes for them.
    while (readNow < kReadPerWake || c.transport->Pending() > 0) {
        IConnectionTransport::Received got = c.transport->Receive(piece, kReadPiece);
        if (got.end == IConnectionTransport::ReceiveEnd::kWouldBlock) break;
        if (got.end == IConnectionTransport::ReceiveEnd::kFailed) {
            CloseById(id);
            return;
        }
        if (got.end == IConnectionTransport::ReceiveEnd::kClosed) {
            peerClosed = true;
            break;
        }
        size_t n = got.count;
        readNow += n;
        if (!c.request) {
            c.request = std::make_unique<CReceivedRequest>();
            c.request->overTls = c.transport->IsSecure();
            c.request->command.Buffer().Init(1024, 1024);
            Charge(c, c.request->command.Buffer().Capacity());
        }
        CDataString& buffer = c.request->command.Buffer();
        size_t count = c.request->count;
        if (n > limits.maxMessageBytes - count) {
            AddLiveTraceF("Request dropped: larger than %zu bytes", limits.maxMessageBytes);
            CloseById(id);
            return;
        }
        size_t before = buffer.Capacity();
        // What the append may add to the buffer (it doubles when it grows).
        size_t needed = count + n + kGrowthSlack;
        size_t growth = needed > before ? std::max(before * 2, needed) - before : 0;
        if (PassesBudget(growth)) {
            AddLiveTraceF("Request dropped: requests in memory would pass %zu bytes",
                          limits.bodyBudgetBytes);
            CloseById(id);
            return;
        }
        buffer.AppendBytes(n, piece);
        if (buffer.Failed()) {
            AddLiveTrace("Request dropped: out of memory while reading it");
            CloseById(id);
            return;
        }
        if (buffer.Capacity() > before) Charge(c, buffer.Capacity() - before);
        c.request->count += n;
        count = c.request->count;
        bool complete = c.framing.Update(buffer.Data(), count);
        size_t head = c.framing.HeadLength();
        if (head == 0) {
            if (count > limits.maxHeadBytes) {
                AddLiveTraceF("Request dropped: head larger than %zu bytes", limits.maxHeadBytes);
                CloseById(id);
                return;
            }
            continue;
        }
        if (auto declared = c.framing.DeclaredLength();
            declared &&
            *declared > limits.maxMessageBytes - std::min(head, limits.maxMessageBytes)) {
            AddLiveTraceF("Request dropped: larger than %zu bytes", limits.maxMessageBytes);
            CloseById(id);
            return;
        }
        if (complete || c.framing.HeadWithoutFraming()) {
            HandOver(id);
            return;
        }
        if (c.phase == Phase::kHead) {
            // The head is whole: a body of known length gets its room at once, so
            // it is held once and never copied while it arrives.
            if (auto declared = c.framing.DeclaredLength(); declared) {
                size_t total = head + static_cast<size_t>(*declared) + CDataString::kAppendSlack;
                size_t room = buffer.Capacity();
                if (total > room && PassesBudget(total - room)) {
                    AddLiveTraceF("Request dropped: requests in memory would pass %zu bytes",
                                  limits.bodyBudgetBytes);
                    CloseById(id);
                    return;
                }
                if (!buffer.ReserveExactly(total)) {
                    AddLiveTrace("Request dropped: out of memory while reading it");
                    CloseById(id);
                    return;
                }
                if (buffer.Capacity() > room) Charge(c, buffer.Capacity() - room);
            }
            // From now on the body's rate counts.
            c.phase = Phase::kBody;
            c.windowStartCount = count;
            SetDeadline(c, Clock::now() + limits.bodyWindow);
        }
    }
    if (peerClosed) {
        if (c.request && c.request->count > 0) {
            HandOver(id);  // handled with what came
        } else {
            CloseById(id);
        }
    }
}

void CConnectionLoop::State::HandOver(uint64_t id) {
    auto it = connections.find(id);
    if (it == connections.end()) return;
    std::unique_ptr<Connection> c = std::move(it->second);
    connections.erase(it);
    ClearDeadline(*c);
    epoll_ctl(epollFd, EPOLL_CTL_DEL, c->fd, nullptr);
    c->phase = Phase::kHandedOver;
    {
        std::lock_guard<std::mutex> lock(mutex);
        busySockets.insert(c->fd);
        ++busy;
        jobs.push_back(std::move(c));
    }
    pool->Post([self = shared_from_this()] { self->ServeOne(); });
}

void CConnectionLoop::State::Expire(uint64_t id, Clock::time_point now) {
    auto it = connections.find(id);
    if (it == connections.end()) return;
    Connection& c = *it->second;
    c.hasDeadline = false;
    if (c.phase == Phase::kBody) {
        size_t count = c.request ? c.request->count : 0;
        size_t windowMs = static_cast<size_t>(limits.bodyWindow.count());
        size_t needed = limits.minBodyBytesPerSecond * windowMs / 1000;
        if (count - c.windowStartCount >= needed && needed > 0) {
            c.windowStartCount = count;
            SetDeadline(c, now + limits.bodyWindow);
            return;
        }
    }
    CloseById(id);  // head too slow, body too slow, or the linger is over
}

void CConnectionLoop::State::TakeFinished() {
    std::deque<std::unique_ptr<Connection>> done;
    {
        std::lock_guard<std::mutex> lock(mutex);
        done.swap(finished);
    }
    for (std::unique_ptr<Connection>& c : done) {
        Uncharge(*c);
        c->request.reset();
        if (c->crashed || limits.linger.count() <= 0) {
            if (!c->crashed) c->transport->EndSending();  // a TLS peer sees a proper end
            Close(std::move(c));
            continue;
        }
        // The answer is over: the client sees its end now, and the loop waits for
        // the peer to close, at most the linger time (its bytes are dropped unread,
        // whatever the transport).
        SetBlocking(c->fd, false);
        c->transport->EndSending();
        c->phase = Phase::kLinger;
        epoll_event event{};
        event.events = EPOLLIN | EPOLLRDHUP;
        event.data.u64 = c->id;
        if (epoll_ctl(epollFd, EPOLL_CTL_ADD, c->fd, &event) != 0) {
            Close(std::move(c));
            continue;
        }
        SetDeadline(*c, Clock::now() + limits.linger);
        uint64_t id = c->id;
        connections.emplace(id, std::move(c));
    }
}

void CConnectionLoop::State::Serve(Connection& c) {
    SetBlocking(c.fd, true);
    timeval timeout{};
    timeout.tv_sec = static_cast<time_t>(limits.writeTimeout.count() / 1000);
    timeout.tv_usec = static_cast<suseconds_t>((limits.writeTimeout.count() % 1000) * 1000);
    setsockopt(c.fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
    try {
        std::unique_ptr<IAnswerStream> out = c.transport->OpenAnswerStream();
        handler(*c.request, *out);
    } catch (...) {
        c.crashed = true;
        AddLiveTrace("Something went wrong... web() crashed");
    }
}

void CConnectionLoop::State::ServeOne() {
    std::unique_ptr<Connection> c;
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (jobs.empty()) return;  // the loop stopped and took it back
        c = std::move(jobs.front());
        jobs.pop_front();
    }
    Serve(*c);
    // The request's memory goes before the loop hears of it.
    c->request.reset();
    {
        std::lock_guard<std::mutex> lock(mutex);
        busySockets.erase(c->fd);
        --busy;
        finished.push_back(std::move(c));
        Wake();
    }
    changed.notify_all();
}

CConnectionLoop::CConnectionLoop(CConnectionLimits limits, Handler handler,
                                 TransportFactory transports,
                                 std::shared_ptr<CConnectionWorkers> workers)
    : workers_(std::move(workers)), state_(std::make_shared<State>()) {
    if (limits.workers == 0) limits.workers = 1;
    state_->limits = limits;
    state_->handler = std::move(handler);
    state_->transports = std::move(transports);
}

CConnectionLoop::~CConnectionLoop() { Stop(); }

void CConnectionLoop::Stop() {
    State& s = *state_;
    std::unique_lock<std::mutex> lock(s.mutex);
    s.stopping = true;
    for (int fd : s.busySockets) shutdown(fd, SHUT_RDWR);  // workers' sends end at once
    s.Wake();
    s.changed.notify_all();
    s.changed.wait(lock, [&] { return !s.running; });
}

CListenState& CConnectionLoop::Listen() const { return *state_; }

size_t CConnectionLoop::OpenConnections() const { return state_->open; }

size_t CConnectionLoop::BusyWorkers() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->busy;
}

size_t CConnectionLoop::WorkerThreads() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->pool ? state_->pool->Threads() : 0;
}

size_t CConnectionLoop::HeldBytes() const { return state_->held; }

void CConnectionLoop::Run(const CSocket& listener) {
    State& s = *state_;
    CSocket epoll(epoll_create1(EPOLL_CLOEXEC));
    CSocket wake(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
    if (!epoll.IsValid() || !wake.IsValid()) return;
    s.epollFd = epoll.Get();
    int listenFd = listener.Get();
    SetBlocking(listenFd, false);
    // Without shared workers the loop has its own, for as long as it runs.
    std::unique_ptr<CConnectionWorkers> own;
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        if (s.stopping) return;
    }
    if (!workers_) own = std::make_unique<CConnectionWorkers>(s.limits.workers);
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        if (s.stopping) return;
        s.running = true;
        s.wakeFd = wake.Get();
        s.pool = workers_ ? workers_.get() : own.get();
        s.port = LocalPort(listenFd);
    }
    s.changed.notify_all();

    epoll_event event{};
    event.events = EPOLLIN;
    event.data.u64 = kWakeId;
    epoll_ctl(s.epollFd, EPOLL_CTL_ADD, wake.Get(), &event);
    event.data.u64 = kListenerId;
    epoll_ctl(s.epollFd, EPOLL_CTL_ADD, listenFd, &event);

    std::vector<epoll_event> events(256);
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(s.mutex);
            if (s.stopping) break;
        }
        int timeoutMs = -1;
        Clock::time_point now = Clock::now();
        Clock::time_point next = Clock::time_point::max();
        if (!s.deadlines.empty()) next = s.deadlines.begin()->first;
        if (s.acceptPaused) next = std::min(next, s.acceptResume);
        if (next != Clock::time_point::max()) {
            auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(next - now).count();
            timeoutMs = static_cast<int>(std::clamp<long long>(wait + 1, 0, 60000));
        }
        int n = epoll_wait(s.epollFd, events.data(), static_cast<int>(events.size()), timeoutMs);
        if (n < 0 && errno != EINTR) break;
        for (int i = 0; i < n; ++i) {
            uint64_t id = events[i].data.u64;
            if (id == kWakeId) {
                uint64_t count = 0;
                (void)!read(wake.Get(), &count, sizeof count);
                continue;
            }
            if (id == kListenerId) {
                s.Accept(listenFd);
                continue;
            }
            auto it = s.connections.find(id);
            if (it == s.connections.end()) continue;  // closed earlier in this round
            s.Ready(*it->second);
        }
        s.TakeFinished();
        now = Clock::now();
        while (!s.deadlines.empty() && s.deadlines.begin()->first <= now) {
            uint64_t id = s.deadlines.begin()->second;
            s.deadlines.erase(s.deadlines.begin());
            s.Expire(id, now);
        }
        if (s.acceptPaused && now >= s.acceptResume) {
            s.acceptPaused = false;
            event.events = EPOLLIN;
            event.data.u64 = kListenerId;
            epoll_ctl(s.epollFd, EPOLL_CTL_ADD, listenFd, &event);
        }
    }

    // Stopping: the loop's connections close now, the workers finish what they
    // hold (their sockets are shut down) and end; what they hand back closes too.
    epoll_ctl(s.epollFd, EPOLL_CTL_DEL, listenFd, nullptr);
    std::vector<uint64_t> ids;
    for (const auto& [id, c] : s.connections) ids.push_back(id);
    for (uint64_t id : ids) s.CloseById(id);
    {
        // Requests no worker has taken yet come back; those being answered end
        // soon, their sockets shut down.
        std::unique_lock<std::mutex> lock(s.mutex);
        for (std::unique_ptr<Connection>& c : s.jobs) {
            s.busySockets.erase(c->fd);
            --s.busy;
            s.finished.push_back(std::move(c));
        }
        s.jobs.clear();
        for (int fd : s.busySockets) shutdown(fd, SHUT_RDWR);
        s.changed.wait(lock, [&] { return s.busy == 0; });
        for (std::unique_ptr<Connection>& c : s.finished) {
            s.Uncharge(*c);
            if (c->fd >= 0) close(c->fd);
            c->fd = -1;
            --s.open;
        }
        s.finished.clear();
        s.busySockets.clear();
        s.wakeFd = -1;
        s.epollFd = -1;
        s.port = 0;
    }
    // The loop's own workers end before Stop hears that Run is over.
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        s.pool = nullptr;
    }
    own.reset();
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        s.running = false;
    }
    s.changed.notify_all();
}
