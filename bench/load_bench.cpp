// Load of waiting connections: corvel --headless (release build) is held by many
// idle connections and by connections that trickle a request head one byte a
// second, while a few clients fetch a small file over new connections one after
// another. Reports the fetch latency (p50, p99, max), the fetches that failed,
// and corvel's threads and resident memory sampled every second.
//
//   build-rel/bench/load_bench [IDLE] [TRICKLING] [SECONDS] [CLIENTS]
//   (defaults 10000 300 30 4)
//
// The server drops idle and trickling connections at its head deadline; the
// benchmark opens them again at once, so the numbers stay held for the whole run.
// Everything runs over loopback; connections spread over destination addresses
// 127.0.0.1 to 127.0.0.20 so that closed ones do not use up the port pairs. Not a
// Google Benchmark: it prints one line per figure and ends by itself.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "server/config/config_test_util.h"
#include "tests/test_process.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kAddresses = 20;

int ConnectTo(int port, int index) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(0x7F000001u + static_cast<uint32_t>(index % kAddresses));
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// "Threads:" and "VmRSS:" (kB) of a process.
void ProcessFigures(pid_t pid, long& threads, long& rssKb) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("Threads:", 0) == 0) threads = std::stol(line.substr(8));
        if (line.rfind("VmRSS:", 0) == 0) rssKb = std::stol(line.substr(6));
    }
}

// A population of connections kept at its size: whatever the server closes is
// opened again. Trickling ones get one more byte of a head that never ends each
// second.
class Population {
public:
    Population(int port, size_t size, bool trickle)
        : port_(port), size_(size), trickle_(trickle), epoll_(epoll_create1(EPOLL_CLOEXEC)) {}
    ~Population() {
        for (int fd : fds_) {
            if (fd >= 0) close(fd);
        }
        close(epoll_);
    }
    void Open() {
        fds_.assign(size_, -1);
        for (size_t i = 0; i < size_; ++i) Reopen(i);
    }
    // Runs until stop: reopens closed connections, trickles.
    void Keep(const std::atomic<bool>& stop) {
        std::vector<epoll_event> events(512);
        Clock::time_point nextByte = Clock::now() + std::chrono::seconds(1);
        while (!stop) {
            int n = epoll_wait(epoll_, events.data(), static_cast<int>(events.size()), 100);
            for (int i = 0; i < n; ++i) {
                size_t index = events[i].data.u64;
                char scratch[256];
                if (recv(fds_[index], scratch, sizeof scratch, MSG_DONTWAIT) <= 0) {
                    ++reopened_;
                    Reopen(index);
                }
            }
            if (trickle_ && Clock::now() >= nextByte) {
                for (size_t i = 0; i < size_; ++i) {
                    if (fds_[i] >= 0) send(fds_[i], "a", 1, MSG_NOSIGNAL | MSG_DONTWAIT);
                }
                nextByte += std::chrono::seconds(1);
            }
        }
    }
    size_t Held() const {
        return static_cast<size_t>(
            std::count_if(fds_.begin(), fds_.end(), [](int fd) { return fd >= 0; }));
    }
    size_t Reopened() const { return reopened_; }

private:
    void Reopen(size_t index) {
        if (fds_[index] >= 0) close(fds_[index]);  // leaves the epoll set
        fds_[index] = ConnectTo(port_, static_cast<int>(index));
        if (fds_[index] < 0) return;
        if (trickle_) send(fds_[index], "GET /slow HTTP/1.1\r\nX-Slow: ", 28, MSG_NOSIGNAL);
        epoll_event event{};
        event.events = EPOLLIN | EPOLLRDHUP;
        event.data.u64 = index;
        epoll_ctl(epoll_, EPOLL_CTL_ADD, fds_[index], &event);
    }

    int port_;
    size_t size_;
    bool trickle_;
    int epoll_;
    std::vector<int> fds_;
    size_t reopened_ = 0;
};

// One fetch over a new connection: milliseconds, or a negative value on failure.
double Fetch(int port, int index, const std::string& expectedEnd) {
    Clock::time_point start = Clock::now();
    int fd = ConnectTo(port, index);
    if (fd < 0) return -1;
    const std::string request = "GET /small.txt HTTP/1.1\r\nHost: pc\r\n\r\n";
    if (send(fd, request.data(), request.size(), MSG_NOSIGNAL) !=
        static_cast<ssize_t>(request.size())) {
        close(fd);
        return -1;
    }
    timeval timeout{5, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    std::string answer;
    char piece[4096];
    ssize_t got;
    while ((got = recv(fd, piece, sizeof piece, 0)) > 0)
        answer.append(piece, static_cast<size_t>(got));
    close(fd);
    if (got < 0 || answer.size() < expectedEnd.size() ||
        answer.compare(answer.size() - expectedEnd.size(), expectedEnd.size(), expectedEnd) != 0) {
        return -1;
    }
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double Percentile(std::vector<double> values, double p) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    size_t at = static_cast<size_t>(p * static_cast<double>(values.size() - 1));
    return values[at];
}

}  // namespace

int main(int argc, char** argv) {
    size_t idle = argc > 1 ? std::stoul(argv[1]) : 10000;
    size_t trickling = argc > 2 ? std::stoul(argv[2]) : 300;
    int seconds = argc > 3 ? std::stoi(argv[3]) : 30;
    int clients = argc > 4 ? std::stoi(argv[4]) : 4;

    rlimit limit{};
    getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
    std::printf("open-file limit: %lu\n", static_cast<unsigned long>(limit.rlim_cur));
    if (limit.rlim_cur < idle + trickling + 200) {
        std::printf("the limit is below %zu connections: fewer are held\n", idle + trickling);
        idle = limit.rlim_cur > trickling + 200 ? limit.rlim_cur - trickling - 200 : 0;
    }

    TempFolder home;
    std::string data = home.Path() + "/Norvex/Corvel";
    std::string www = home.Path() + "/www";
    std::filesystem::create_directories(data);
    std::filesystem::create_directories(www);
    const std::string body(512, 's');
    WriteWholeFile(www + "/small.txt", body);
    WriteWholeFile(data + "/settings.inf", "WebBaseDir=" + www + "\n");
    ChildProcess corvel(ProgramPath("corvel"),
                        {"--headless", "--port", "0", "--https-port", "0", "--trace-port", "0"},
                        DataHomeEnvironment(home.Path()));
    int port = corvel.ListeningPort();
    if (port == 0) {
        std::printf("corvel did not start: %s\n", corvel.Out().c_str());
        return 1;
    }
    long threadsBefore = 0;
    long rssBefore = 0;
    ProcessFigures(corvel.Pid(), threadsBefore, rssBefore);

    Population idlePeers(port, idle, false);
    Population tricklers(port, trickling, true);
    Clock::time_point openStart = Clock::now();
    idlePeers.Open();
    tricklers.Open();
    double openSeconds = std::chrono::duration<double>(Clock::now() - openStart).count();
    std::printf("opened %zu idle and %zu trickling connections in %.1f s\n", idlePeers.Held(),
                tricklers.Held(), openSeconds);

    std::atomic<bool> stop{false};
    std::thread keepIdle([&] { idlePeers.Keep(stop); });
    std::thread keepTrickling([&] { tricklers.Keep(stop); });

    std::mutex mutex;
    std::vector<double> latencies;
    std::atomic<size_t> failures{0};
    std::vector<std::thread> fetchers;
    for (int c = 0; c < clients; ++c) {
        fetchers.emplace_back([&, c] {
            std::vector<double> mine;
            int index = c;
            while (!stop) {
                double ms = Fetch(port, index++, body);
                if (ms < 0) {
                    ++failures;
                } else {
                    mine.push_back(ms);
                }
            }
            std::lock_guard<std::mutex> lock(mutex);
            latencies.insert(latencies.end(), mine.begin(), mine.end());
        });
    }
    long threadsMin = 1 << 30, threadsMax = 0, rssMin = 1L << 40, rssMax = 0;
    size_t heldMin = idle + trickling, heldMax = 0;
    for (int s = 0; s < seconds; ++s) {
        std::this_thread::sleep_for(std::chrono::seconds(1));
        long threads = 0;
        long rss = 0;
        ProcessFigures(corvel.Pid(), threads, rss);
        threadsMin = std::min(threadsMin, threads);
        threadsMax = std::max(threadsMax, threads);
        rssMin = std::min(rssMin, rss);
        rssMax = std::max(rssMax, rss);
        size_t held = idlePeers.Held() + tricklers.Held();
        heldMin = std::min(heldMin, held);
        heldMax = std::max(heldMax, held);
    }
    stop = true;
    for (std::thread& t : fetchers) t.join();
    keepIdle.join();
    keepTrickling.join();

    std::printf(
        "connections held: %zu to %zu of %zu (reopened after the server's deadline: %zu idle, %zu "
        "trickling)\n",
        heldMin, heldMax, idle + trickling, idlePeers.Reopened(), tricklers.Reopened());
    std::printf("fetches: %zu answered, %zu failed, %.0f per second\n", latencies.size(),
                failures.load(), static_cast<double>(latencies.size()) / seconds);
    std::printf("latency ms: p50 %.2f  p99 %.2f  max %.2f\n", Percentile(latencies, 0.5),
                Percentile(latencies, 0.99), Percentile(latencies, 1.0));
    std::printf("corvel threads: %ld before, %ld to %ld under load\n", threadsBefore, threadsMin,
                threadsMax);
    std::printf("corvel resident memory MiB: %.1f before, %.1f to %.1f under load\n",
                rssBefore / 1024.0, rssMin / 1024.0, rssMax / 1024.0);
    return 0;
}
