#include "common/base/line_sink.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>
#include <vector>

namespace {

TEST(LineSink, HandsLinesToTheInstalledFunctionOnly) {
    for (auto calls : {LineSink::Calls::kOneAtATime, LineSink::Calls::kConcurrent}) {
        LineSink sink(calls);
        std::vector<std::string> lines;
        sink.Write("before");
        EXPECT_FALSE(sink.Installed());
        sink.Set([&lines](const std::string& line) { lines.push_back(line); });
        EXPECT_TRUE(sink.Installed());
        sink.Write("one");
        sink.Write("two");
        sink.Set(nullptr);
        sink.Write("after");
        EXPECT_EQ(lines, (std::vector<std::string>{"one", "two"}));
    }
}

TEST(LineSink, AThrowingFunctionLosesOnlyItsLine) {
    for (auto calls : {LineSink::Calls::kOneAtATime, LineSink::Calls::kConcurrent}) {
        LineSink sink(calls);
        int seen = 0;
        sink.Set([&seen](const std::string& line) {
            ++seen;
            if (line == "bad") throw std::runtime_error("sink failed");
        });
        EXPECT_NO_THROW(sink.Write("bad"));
        sink.Write("good");
        EXPECT_EQ(seen, 2);
    }
}

// Set waits for a running call, so the replaced function may refer to what ends after Set.
TEST(LineSink, OneAtATimeSetWaitsForTheRunningCall) {
    LineSink sink(LineSink::Calls::kOneAtATime);
    std::atomic<bool> entered{false};
    std::atomic<bool> finished{false};
    sink.Set([&](const std::string&) {
        entered = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        finished = true;
    });
    std::thread writer([&sink] { sink.Write("slow"); });
    while (!entered) std::this_thread::yield();
    sink.Set(nullptr);
    EXPECT_TRUE(finished);
    writer.join();
}

// A concurrent sink's function may write to the sink again (or take a lock a writer holds).
TEST(LineSink, ConcurrentCallsMayReenterTheSink) {
    LineSink sink(LineSink::Calls::kConcurrent);
    std::vector<std::string> lines;
    sink.Set([&](const std::string& line) {
        lines.push_back(line);
        if (line == "outer") sink.Write("inner");
    });
    sink.Write("outer");
    EXPECT_EQ(lines, (std::vector<std::string>{"outer", "inner"}));
}

}  // namespace
