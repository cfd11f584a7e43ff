#include "instruments/instrumentloader.h"
#include "instruments/sampler.h"

#include "packfiles.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <thread>

namespace {

using packfiles::packJson;
using packfiles::zoneJson;

// Sample packs load in the background on the instrument's loader: a real
// sampler and real packs, submitted the way the instrument submits them.
class InstrumentLoaderTest : public ::testing::Test
{
protected:
    std::string dir() const { return m_dir.path().string(); }
    // done runs on the loader thread after the load, or at once when a newer
    // load replaces this one before it started.
    void loadInBackground(const std::string& packDir, std::function<void()> done)
    {
        m_loader.submit({ [this, packDir, done] {
                             m_sampler.load(packDir);
                             done();
                         },
            done });
    }

    TempDir m_dir;
    Sampler m_sampler;
    InstrumentLoader m_loader; // last: joined before the sampler goes
};

TEST_F(InstrumentLoaderTest, ALoadInstallsThePackThenCompletes)
{
    packfiles::writeSample(dir(), "s.wav", packfiles::constant(0.5f, 4096));
    packfiles::writePack(dir(), packJson(zoneJson(0, 127, 60, "s.wav")));
    std::atomic<int> calls { 0 };
    std::atomic<int> zonesSeen { -1 };
    loadInBackground(dir(), [&] {
        zonesSeen = m_sampler.numZones();
        ++calls;
    });
    m_loader.waitIdle();
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(zonesSeen, 1);

    loadInBackground(dir() + "/nowhere", [&] { ++calls; }); // failure still completes
    m_loader.waitIdle();
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(m_sampler.numZones(), 1);
}

TEST_F(InstrumentLoaderTest, TheLaterLoadWinsAndEveryLoadCompletes)
{
    TempDir other;
    packfiles::writeSample(dir(), "s.wav", packfiles::constant(0.5f, 4096));
    packfiles::writePack(dir(), packJson(zoneJson(0, 127, 60, "s.wav")));
    packfiles::writeSample(other.path().string(), "s.wav", packfiles::constant(0.5f, 4096));
    packfiles::writePack(other.path().string(),
        packJson(zoneJson(0, 10, 60, "s.wav") + ", " + zoneJson(11, 20, 60, "s.wav")));
    std::atomic<int> calls { 0 };
    for (int i = 0; i < 5; ++i)
        loadInBackground(i % 2 ? dir() : other.path().string(), [&] { ++calls; });
    m_loader.waitIdle();
    EXPECT_EQ(calls, 5);
    EXPECT_EQ(m_sampler.numZones(), 2);
}

TEST(InstrumentLoaderLifetime, DestroyingDuringALoadWaitsForIt)
{
    TempDir dir;
    packfiles::writeSample(dir.path().string(), "s.wav", packfiles::constant(0.5f, 44100));
    std::string zones;
    for (int i = 0; i < 40; ++i)
        zones += (i ? ", " : "") + zoneJson(i, i, 60, "s.wav");
    packfiles::writePack(dir.path().string(), packJson(zones));
    std::atomic<bool> started { false };
    std::atomic<int> calls { 0 };
    {
        Sampler sampler;
        InstrumentLoader loader;
        loader.submit({ [&] {
                           started = true;
                           sampler.load(dir.path().string());
                           ++calls;
                       },
            {} });
        while (!started)
            std::this_thread::yield();
    }
    EXPECT_EQ(calls, 1);
}

} // namespace
