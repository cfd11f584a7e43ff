#pragma once

#include "core/log.h"
#include "engine/transport.h"
#include "engine/zubapi.h"
#include "engine/zubengine.h"
#include "support/allocationcounter.h"
#include "support/setclock.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

// Runs the engine in an empty working directory: it finds no instrument
// library there, so what a test hears is only what it feeds in.
class EmptyWorkingDirectory
{
public:
    EmptyWorkingDirectory()
        : m_previous(std::filesystem::current_path())
    {
        std::filesystem::current_path(m_dir.path());
    }
    ~EmptyWorkingDirectory() { std::filesystem::current_path(m_previous); }

private:
    TempDir m_dir;
    std::filesystem::path m_previous;
};

// An engine and its API with the process-wide transport back at 0 and 120
// bpm, and no instrument content. The transport's clock stands still: a
// note is stamped at the start of the cycle in progress, as on an idle
// machine, not wherever within it a busy machine let the test get to.
class EngineTest : public ::testing::Test
{
protected:
    EngineTest() { Transport::instance().setClock(&m_clock); }
    ~EngineTest() override { Transport::instance().setClock(nullptr); }
    void SetUp() override
    {
        Transport::instance().setPosition(0);
        Transport::instance().setBpm(120.0f);
    }
    // The reply to one message.
    std::string send(const std::string& m)
    {
        api.handleMessage(m);
        return api.reply();
    }
    SetClock m_clock;
    EmptyWorkingDirectory m_workingDirectory;
    ZubEngine engine { nullptr };
    ZubApi api { &engine };
};

// Heap allocations made by the engine's cycle over buffers of uneven sizes,
// the largest above what its components take in one piece. A line the cycle
// tries to log fails the test as well.
inline std::size_t cycleAllocations(ZubEngine& engine)
{
    std::vector<float> buf(2 * 40000);
    const std::size_t refused = Log::refusedAudioThreadLines();
    AllocationCounter counter;
    for (int frames : { 1, 64, 256, 1024, 40000 })
        engine.process(buf.data(), frames);
    const std::size_t allocations = counter.count();
    EXPECT_EQ(Log::refusedAudioThreadLines(), refused) << "the audio cycle tried to log";
    return allocations;
}
