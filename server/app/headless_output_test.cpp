#include "server/app/headless_output.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/win/message_box.h"
#include "server/config/config_test_util.h"
#include "server/config/live_trace.h"

namespace {

// Output into a memory stream, read back as text.
class MemoryStream {
public:
    MemoryStream() : stream_(open_memstream(&data_, &size_)) {}
    ~MemoryStream() {
        std::fclose(stream_);
        std::free(data_);
    }
    FILE* Get() { return stream_; }
    std::string Text() {
        std::fflush(stream_);
        return std::string(data_, size_);
    }

private:
    char* data_ = nullptr;
    size_t size_ = 0;
    FILE* stream_;
};

TEST(HeadlessOutput, OneLineEachWithControlCharactersReplaced) {
    EXPECT_EQ(PrintableLine("GET /a\r\nX\x1b[2J\x7f\tz"), "GET /a??X?[2J?\tz");
    MemoryStream memory;
    CHeadlessOutput output(memory.Get());
    output.Line("first");
    output.Line("sec\nond");
    output.Flush();
    EXPECT_EQ(memory.Text(), "first\nsec?ond\n");
}

// Lines of many threads, gathered into few writes: every one whole, each thread's
// in its order, none lost, whether Flush or the end of the output writes them.
TEST(HeadlessOutput, LinesOfManyThreadsArriveWholeInOrderAndAllOfThem) {
    constexpr int kThreads = 4;
    constexpr int kLines = 3000;
    auto check = [](const std::string& text) {
        std::vector<int> next(kThreads, 0);
        std::istringstream lines(text);
        std::string line;
        int count = 0;
        while (std::getline(lines, line)) {
            int thread = -1, number = -1;
            char tail = 0;
            ASSERT_EQ(std::sscanf(line.c_str(), "thread %d line %d en%c", &thread, &number, &tail),
                      3)
                << line;
            ASSERT_TRUE(thread >= 0 && thread < kThreads) << line;
            EXPECT_EQ(number, next[thread]++) << line;
            ++count;
        }
        EXPECT_EQ(count, kThreads * kLines);
    };
    auto writeAll = [](CHeadlessOutput& output) {
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back([&output, t] {
                for (int n = 0; n < kLines; ++n)
                    output.Line("thread " + std::to_string(t) + " line " + std::to_string(n) +
                                " end");
            });
        }
        for (std::thread& thread : threads) thread.join();
    };
    {
        MemoryStream memory;
        CHeadlessOutput output(memory.Get());
        writeAll(output);
        output.Flush();
        check(memory.Text());
        output.Line("after the flush");
        output.Flush();
        const std::string text = memory.Text();
        EXPECT_EQ(text.substr(text.size() - 16), "after the flush\n");
    }
    MemoryStream memory;
    {
        CHeadlessOutput output(memory.Get());
        writeAll(output);
    }
    check(memory.Text());
}

TEST(HeadlessSinks, LiveTraceFollowsTraceLiveAndClientLinesArePrefixed) {
    TempFolder temp;
    Settings settings;
    settings.LoadSettings(temp.Path() + "/data");
    CErrorLog errorLog;
    MemoryStream memory;
    CHeadlessOutput output(memory.Get());
    {
        CHeadlessSinks sinks(settings, errorLog, output);
        AddLiveTrace("GET /shown");
        settings.SetTraceLive(false);
        AddLiveTrace("GET /hidden");
        settings.SetTraceLive(true);
        sinks.ClientTrace().AddText("hello\r\nwor");
        sinks.ClientTrace().AddText("ld\n");
    }
    AddLiveTrace("after the sinks are gone");
    output.Flush();
    EXPECT_EQ(memory.Text(), "GET /shown\nclient: hello\nclient: world\n");
}

TEST(HeadlessSinks, MessageBoxesBecomeErrorLogEntriesAndTraceLines) {
    TempFolder temp;
    Settings settings;
    settings.LoadSettings(temp.Path() + "/data");
    CErrorLog errorLog;
    errorLog.Open(temp.Path() + "/data/error.log");
    MemoryStream memory;
    CHeadlessOutput output(memory.Get());
    {
        CHeadlessSinks sinks(settings, errorLog, output);
        ShowMessageBox("Out of Memory", "CDataString::Realloc");
        ShowMessageBox("TracePort bind returns error");
    }
    output.Flush();
    EXPECT_EQ(memory.Text(), "CDataString::Realloc: Out of Memory\nTracePort bind returns error\n");
    std::string log = ReadWholeFile(temp.Path() + "/data/error.log");
    // Two entries, each a "!!!" stamp line with the text.
    ASSERT_EQ(log.size(), 2 * 25 + std::string("CDataString::Realloc: Out of Memory\n").size() +
                              std::string("TracePort bind returns error\n").size());
    EXPECT_EQ(log.substr(0, 3), "!!!");
    EXPECT_EQ(log.substr(22, 3 + 36), " - CDataString::Realloc: Out of Memory\n");
    EXPECT_EQ(log.substr(log.size() - 32), " - TracePort bind returns error\n");
}

}  // namespace
