// Hostile loads end to end: connections that wait or trickle cost corvel no
// thread and keep nobody else waiting; requests that are large or nest deeply
// cost it bounded memory. corvel runs headless over a temporary data home.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/test_process.h"

namespace {

class Corvel : public CorvelProcess {
public:
    explicit Corvel(const std::string& dataHome) : CorvelProcess(dataHome, kHeadlessOnFreePorts) {}
    // The thread count once it has stayed the same for half a second (at most 20 s).
    long SettledThreads() {
        long seen = Status("Threads");
        for (int i = 0; i < 40; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
            long now = Status("Threads");
            if (now == seen) break;
            seen = now;
        }
        return seen;
    }
    // A figure of /proc/<pid>/status ("Threads", "VmHWM" in kB).
    long Status(const std::string& key) {
        std::ifstream status("/proc/" + std::to_string(Pid()) + "/status");
        std::string line;
        while (std::getline(status, line)) {
            if (line.rfind(key + ":", 0) == 0) return std::stol(line.substr(key.size() + 1));
        }
        return -1;
    }
    // Sets the peak ("VmHWM") back to what is resident now, so that a peak read
    // later is what the work in between cost, whatever the start-up took.
    void ResetPeak() {
        std::ofstream clear("/proc/" + std::to_string(Pid()) + "/clear_refs");
        clear << "5\n";
    }
};

class LoadEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        std::string data = temp_.Path() + "/Norvex/Corvel";
        std::string www = temp_.Path() + "/www";
        std::filesystem::create_directories(data);
        std::filesystem::create_directories(www);
        WriteWholeFile(www + "/f.txt", "file");
        WriteWholeFile(data + "/settings.inf", "WebBaseDir=" + www + "\n");
        corvel_ = std::make_unique<Corvel>(temp_.Path());
        port_ = corvel_->ListeningPort();
        ASSERT_NE(port_, 0) << corvel_->Out();
        // Both listeners run (their workers counted) before anything is measured.
        ASSERT_NE(corvel_->ListeningPort("HTTPS server"), 0) << corvel_->Out();
    }

    TempFolder temp_;
    std::unique_ptr<Corvel> corvel_;
    int port_ = 0;
};

const std::string kFile = "HTTP/1.0 200 OK\r\nContent-Type: application/octet-stream\r\n\r\nfile";

TEST_F(LoadEndToEnd, IdleAndTricklingConnectionsKeepNobodyWaiting) {
    // Every worker of the plain listener is there once the first request is
    // answered; the HTTPS listener starts its own after it says it listens.
    ASSERT_EQ(AskLoopback(port_, "GET /f.txt HTTP/1.1\r\nHost: pc\r\n\r\n"), kFile);
    long threadsBefore = corvel_->SettledThreads();
    // More waiting connections than the server ever had threads.
    std::vector<CSocket> idle;
    for (int i = 0; i < 300; ++i) idle.push_back(ConnectLoopback(port_));
    std::vector<CSocket> trickling;
    for (int i = 0; i < 300; ++i) {
        trickling.push_back(ConnectLoopback(port_));
        ASSERT_TRUE(SendAll(trickling.back().Get(), "GET /f.txt HTTP/1.1\r\nX: "));
    }
    for (int round = 0; round < 8; ++round) {
        for (CSocket& t : trickling) SendAll(t.Get(), "x");
        EXPECT_EQ(AskLoopback(port_, "GET /f.txt HTTP/1.1\r\nHost: pc\r\n\r\n"), kFile) << round;
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
    }
    EXPECT_EQ(corvel_->Status("Threads"), threadsBefore);
    // The head deadline (10 s) ends the waiting ones by itself.
    std::string rest;
    EXPECT_EQ(ReadUntilClosed(trickling.front().Get(), rest), ReadEnd::kClosed);
    EXPECT_EQ(ReadUntilClosed(idle.front().Get(), rest), ReadEnd::kClosed);
    EXPECT_EQ(rest, "");
}

TEST_F(LoadEndToEnd, LargeAndDeeplyNestedRequestsCostBoundedMemory) {
    // Every worker is there once the first request is answered; what is resident
    // then is the baseline the requests below are measured against.
    ASSERT_EQ(AskLoopback(port_, "GET /f.txt HTTP/1.1\r\nHost: pc\r\n\r\n"), kFile);
    corvel_->ResetPeak();
    long baselineKb = corvel_->Status("VmRSS");
    // Six requests that announce 250 MiB each, without a log-on: dropped at the
    // limit (MaxBodyMB 64) before their bodies are read.
    std::vector<CSocket> large;
    std::string piece(1024 * 1024, 'x');
    for (int i = 0; i < 6; ++i) {
        large.push_back(ConnectLoopback(port_));
        SendAll(large.back().Get(),
                "POST /vantro HTTP/1.1\r\nContent-Type: application/vantro\r\n"
                "Content-Length: 262144000\r\n\r\n");
        for (int m = 0; m < 8 && SendAll(large.back().Get(), piece); ++m) {
        }
    }
    EXPECT_NE(corvel_->WaitForOutput("Request dropped: larger than [0-9]+ bytes"), "");
    // 40 MiB of nested start tags: read, walked to the depth limit, answered.
    std::string nested = std::string("\x03\x01\x6a\x00", 4) + std::string(40 * 1024 * 1024, '\x55');
    std::string answer = AskLoopback(port_,
                                     "POST /vantro HTTP/1.1\r\nContent-Type: application/vantro\r\n"
                                     "Content-Length: " +
                                         std::to_string(nested.size()) + "\r\n\r\n" + nested);
    EXPECT_EQ(answer.rfind("HTTP/1.1 ", 0), 0u) << answer.substr(0, 200);
    long peakKb = corvel_->Status("VmHWM");
    // The 40 MiB request held twice at most (as it arrived, and the reader's copy),
    // nothing per tag.
    EXPECT_LT(peakKb - baselineKb, 100 * 1024)
        << peakKb << " kB at the peak, " << baselineKb << " kB before";
    // And the protocol trace gained one line, not a dump.
    std::string log = ReadWholeFile(temp_.Path() + "/Norvex/Corvel/wbxml.log");
    EXPECT_LT(log.size(), 1000u);
}

}  // namespace
