// A large attachment through corvel: corvel-store attach stores a file of
// CORVEL_BENCH_ATTACH_MB MiB (200 by default) in a mail of the inbox, and a device
// downloads it from `corvel --headless` over loopback. Reports the store step's
// time and peak memory (the largest resident set of the programs it ran), the
// download's time and MB/s, corvel's peak resident set (VmHWM) after the download,
// and whether every byte arrived as stored.
//   build/bench/attachment_bench
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>

#include "bench/vantro_bench.h"
#include "common/base/temp_home.h"
#include "common/wbxml/wbxml.h"
#include "server/vantro/vantro_tags.h"

namespace {

constexpr double kMiB = 1024.0 * 1024.0;

// The byte at offset i of the attachment: every value, no period of a chunk.
char PatternByte(std::uint64_t i) { return static_cast<char>((i * 131 + i / 4099) & 0xFF); }

std::uint64_t AttachmentBytes() {
    const char* mb = std::getenv("CORVEL_BENCH_ATTACH_MB");
    const long n = mb != nullptr ? std::atol(mb) : 200;
    return static_cast<std::uint64_t>(n > 0 ? n : 200) * 1024 * 1024;
}

double Seconds(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Sends request and hands every body byte to onBody as it arrives; the body's
// length from Content-Length, or -1 when the answer had none.
std::int64_t Download(int port, const std::string& request,
                      const std::function<void(std::string_view)>& onBody) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    timeval guard{600, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &guard, sizeof guard);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return -1;
    if (send(fd, request.data(), request.size(), MSG_NOSIGNAL) !=
        static_cast<ssize_t>(request.size()))
        return -1;
    std::string head;
    std::vector<char> piece(1 << 20);
    std::int64_t length = -1;
    std::int64_t got = 0;
    while (length < 0 || got < length) {
        ssize_t n = recv(fd, piece.data(), piece.size(), 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        std::string_view bytes(piece.data(), static_cast<size_t>(n));
        if (length < 0) {
            head.append(bytes);
            size_t end = head.find("\r\n\r\n");
            if (end == std::string::npos) continue;
            std::smatch match;
            std::string header = head.substr(0, end + 2);
            if (!std::regex_search(header, match, std::regex("\r\nContent-Length: *([0-9]+)\r\n")))
                return -1;
            length = std::stoll(match[1].str());
            bytes = std::string_view(head).substr(end + 4);
        }
        got += static_cast<std::int64_t>(bytes.size());
        onBody(bytes);
    }
    return length;
}

void BM_AttachmentStoreAndDownload(benchmark::State& state) {
    const std::uint64_t size = AttachmentBytes();
    const TempFolder folder("corvel-attach-bench");
    const std::string& home = folder.Path();
    if (home.empty()) return state.SkipWithError("no temporary folder");
    std::filesystem::create_directories(home + "/Norvex/Corvel");
    {
        BenchProgram add("corvel", home, {"user", "add", "bench", "--password", "pw", "--auto"});
        if (add.Wait() != 0) return state.SkipWithError("corvel user add failed");
    }
    BenchProgram server("corvel", home, {"--headless", "--port", "0", "--trace-port", "0"});
    const int port = server.Port();
    if (port == 0) return state.SkipWithError("corvel did not start");
    // The device is made and its mail folder offered.
    if (Exchange(port, GetDataRequest("Email", false)).empty())
        return state.SkipWithError("no answer to the logon");
    std::string id;
    {
        BenchProgram add("corvel-store", home,
                         {"add", "Inbox", "--class", "IPM.Note", "PR_SUBJECT=Big"});
        if (add.Wait() != 0) return state.SkipWithError("corvel-store add failed");
        id = add.Out().substr(0, add.Out().find_first_of("\r\n"));
    }
    const std::string file = home + "/big.bin";
    {
        std::ofstream out(file, std::ios::binary);
        std::string block(1 << 20, '\0');
        for (std::uint64_t at = 0; at < size; at += block.size()) {
            for (size_t k = 0; k < block.size(); ++k) block[k] = PatternByte(at + k);
            out.write(block.data(), static_cast<std::streamsize>(block.size()));
        }
    }
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        BenchProgram attach("corvel-store", home, {"attach", id, file});
        if (attach.Wait() != 0) return state.SkipWithError("corvel-store attach failed");
        const double storeSeconds = Seconds(start);
        rusage children{};
        getrusage(RUSAGE_CHILDREN, &children);

        const std::string request = "GET /OutlookAttachments/Inbox/" + id +
                                    ".EML/big.bin?device=PPCB&username=bench HTTP/1.1\r\n"
                                    "Authorization: Basic YmVuY2g6cHc=\r\n\r\n";  // bench:pw
        std::uint64_t at = 0;
        bool same = true;
        start = std::chrono::steady_clock::now();
        const std::int64_t length = Download(port, request, [&](std::string_view bytes) {
            for (char c : bytes) same = same && c == PatternByte(at++);
        });
        const double downloadSeconds = Seconds(start);
        state.SetIterationTime(storeSeconds + downloadSeconds);
        if (length != static_cast<std::int64_t>(size) || at != size || !same)
            return state.SkipWithError("the download differs from the stored file");
        state.counters["MiB"] = static_cast<double>(size) / kMiB;
        state.counters["store_s"] = storeSeconds;
        state.counters["store_peak_MiB"] = static_cast<double>(children.ru_maxrss) / 1024.0;
        state.counters["download_s"] = downloadSeconds;
        state.counters["download_MBps"] = static_cast<double>(size) / kMiB / downloadSeconds;
        state.counters["corvel_peak_MiB"] =
            static_cast<double>(PeakResidentKiB(server.Pid())) / 1024.0;
    }
}
BENCHMARK(BM_AttachmentStoreAndDownload)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->UseManualTime();

}  // namespace

BENCHMARK_MAIN();
