// Speed of the HTTP message core.
#include <benchmark/benchmark.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <thread>

#include "common/http/html_command.h"
#include "common/http/message_framing.h"
#include "common/http/receive_message.h"

namespace {

std::string ChunkedMessage(size_t bodyBytes, size_t chunkBytes) {
    std::string m = "POST /vantro HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n";
    char size[32];
    std::snprintf(size, sizeof size, "%zx\r\n", chunkBytes);
    for (size_t done = 0; done < bodyBytes; done += chunkBytes) {
        m += size;
        m.append(chunkBytes, 'x');
        m += "\r\n";
    }
    return m + "0\r\n\r\n";
}

void BM_ParseTypicalRequest(benchmark::State& state) {
    std::string m =
        "POST /vantro?device=ABC&user=u HTTP/1.1\r\nHost: pc\r\n"
        "Content-Type: application/vantro\r\nUser-Agent: Skiff\r\n"
        "Content-Length: 512\r\n\r\n" +
        std::string(512, 'b');
    CHTMLCommand command;
    for (auto _ : state) {
        command.ParseMessage(true, m.data(), m.size());
        benchmark::DoNotOptimize(command.GetHeader("content-type"));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * m.size()));
}
BENCHMARK(BM_ParseTypicalRequest);

void BM_ParseChunkedBody(benchmark::State& state) {
    std::string m = ChunkedMessage(static_cast<size_t>(state.range(0)), 4096);
    CHTMLCommand command;
    for (auto _ : state) {
        command.ParseMessage(true, m.data(), m.size());
        benchmark::DoNotOptimize(command.BodyLength());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * m.size()));
}
BENCHMARK(BM_ParseChunkedBody)->Arg(1 << 20)->Arg(16 << 20);

// The completeness test after every 16 KiB piece of a chunked message: the
// whole-buffer test is quadratic, the incremental one linear.
void BM_CompletenessPerPiece(benchmark::State& state) {
    std::string m = ChunkedMessage(4 << 20, 1024);
    bool incremental = state.range(0) != 0;
    for (auto _ : state) {
        CMessageFraming framing;
        bool complete = false;
        for (size_t count = 0; count < m.size() && !complete;) {
            count = std::min(m.size(), count + kReceivePiece);
            complete =
                incremental ? framing.Update(m.data(), count) : IsMessageComplete(m.data(), count);
        }
        benchmark::DoNotOptimize(complete);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * m.size()));
    state.SetLabel(incremental ? "incremental" : "whole buffer");
}
BENCHMARK(BM_CompletenessPerPiece)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_ReceiveMessage(benchmark::State& state) {
    size_t body = static_cast<size_t>(state.range(0));
    std::string m = "POST / HTTP/1.1\r\nContent-Length: " + std::to_string(body) + "\r\n\r\n" +
                    std::string(body, 'x');
    CDataString buffer;
    for (auto _ : state) {
        int fds[2];
        if (socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0) break;
        std::thread sender([&] {
            for (size_t sent = 0; sent < m.size();) {
                ssize_t n = send(fds[1], m.data() + sent, m.size() - sent, MSG_NOSIGNAL);
                if (n <= 0) break;
                sent += static_cast<size_t>(n);
            }
        });
        ReceiveResult r = ReceiveMessage(fds[0], buffer);
        sender.join();
        close(fds[0]);
        close(fds[1]);
        benchmark::DoNotOptimize(r.count);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * m.size()));
}
BENCHMARK(BM_ReceiveMessage)->Arg(64 << 10)->Arg(8 << 20)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
