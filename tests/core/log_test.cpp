#include "core/log.h"
#include "support/debuglog.h"

#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

// Keeps what reaches the sink.
class RecordingSink : public LogSink
{
public:
    RecordingSink() { Log::setSink(this); }
    ~RecordingSink() override { Log::setSink(nullptr); }
    void write(LogLevel level, std::string_view line) override { lines.emplace_back(level, std::string(line)); }
    std::vector<std::pair<LogLevel, std::string>> lines;
};

struct Printed {
    std::string out;
    std::string err;
};

template <typename F>
Printed printed(F&& f)
{
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    f();
    Printed p;
    p.out = testing::internal::GetCapturedStdout();
    p.err = testing::internal::GetCapturedStderr();
    return p;
}

TEST(Log, EachLevelGoesToItsStreamAndTheSink)
{
    struct Case {
        LogLevel level;
        bool debugOn;
        const char* out;
        const char* err;
        bool sunk;
    };
    const Case cases[] = {
        { LogLevel::Info, false, "Loaded loop a.wav with length 4\n", "", true },
        { LogLevel::Error, false, "", "Loaded loop a.wav with length 4\n", true },
        { LogLevel::Debug, false, "", "", false },
        { LogLevel::Debug, true, "Loaded loop a.wav with length 4\n", "", true },
    };
    for (const Case& c : cases) {
        Log::setDebugEnabled(c.debugOn);
        RecordingSink sink;
        const Printed p = printed([&] { LogLine(c.level) << "Loaded loop " << "a.wav" << " with length " << 4; });
        EXPECT_EQ(p.out, c.out) << int(c.level) << c.debugOn;
        EXPECT_EQ(p.err, c.err) << int(c.level) << c.debugOn;
        ASSERT_EQ(sink.lines.size(), c.sunk ? 1u : 0u);
        if (c.sunk) {
            EXPECT_EQ(sink.lines[0].first, c.level);
            EXPECT_EQ(sink.lines[0].second, "Loaded loop a.wav with length 4");
        }
    }
    Log::setDebugEnabled(false);
}

TEST(Log, ATrailingLineFeedIsNotDoubled)
{
    RecordingSink sink;
    const Printed p = printed([] { logInfo() << "No idea with id " << "7\n"; });
    EXPECT_EQ(p.out, "No idea with id 7\n");
    EXPECT_EQ(sink.lines.at(0).second, "No idea with id 7");
}

TEST(Log, DebugComesFromTheEnvironmentOnlyWhenAskedFor)
{
    const std::pair<const char*, bool> cases[] = {
        { "debug", true }, { "DEBUG", true }, { nullptr, false }, { "", false }, { "info", false }, { "debugging", false },
    };
    for (const auto& [value, on] : cases)
        EXPECT_EQ(Log::debugFromEnvironment(value), on) << (value ? value : "(unset)");
}

TEST(Log, TheAudioThreadIsRefusedAndCounted)
{
    DebugLogOn debug;
    RecordingSink sink;
    const std::size_t before = Log::refusedAudioThreadLines();
    const Printed p = printed([] {
        {
            Log::AudioThreadScope audio;
            logError() << "numResampledSamplesGenerated <= kMaxResampledSamples";
            {
                Log::AudioThreadScope nested;
                logDebug() << "note on at 1 seconds.";
            }
            Log::write(LogLevel::Info, "still the audio thread");
        }
        logInfo() << "after the cycle";
    });
    EXPECT_EQ(Log::refusedAudioThreadLines() - before, 3u);
    EXPECT_EQ(p.out, "after the cycle\n");
    EXPECT_EQ(p.err, "");
    ASSERT_EQ(sink.lines.size(), 1u);

    // The mark belongs to the thread that set it.
    std::size_t refusedElsewhere = 0;
    {
        Log::AudioThreadScope audio;
        std::thread([&] {
            const std::size_t b = Log::refusedAudioThreadLines();
            testing::internal::CaptureStdout();
            logInfo() << "from the GUI thread";
            testing::internal::GetCapturedStdout();
            refusedElsewhere = Log::refusedAudioThreadLines() - b;
        }).join();
    }
    EXPECT_EQ(refusedElsewhere, 0u);
    EXPECT_EQ(sink.lines.size(), 2u);
}

TEST(Log, LinesFromManyThreadsArriveWhole)
{
    RecordingSink sink;
    const Printed p = printed([] {
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t)
            threads.emplace_back([t] {
                for (int i = 0; i < 200; ++i)
                    logInfo() << "thread " << t << " line " << i;
            });
        for (auto& th : threads)
            th.join();
    });
    ASSERT_EQ(sink.lines.size(), 800u);
    std::size_t printedLines = 0;
    for (std::size_t at = 0; (at = p.out.find('\n', at)) != std::string::npos; ++at)
        ++printedLines;
    EXPECT_EQ(printedLines, 800u);
    for (const auto& [level, line] : sink.lines)
        EXPECT_EQ(line.rfind("thread ", 0), 0u) << line;
}

} // namespace
