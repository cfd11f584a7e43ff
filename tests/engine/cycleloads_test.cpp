// The whole audio cycle under every named load of the cycle benchmark: it
// allocates nothing, it keeps running while loaders and the GUI hold their
// side of the instrument, and it reports its largest cycle to the API.
#include "../../bench/engineloads.h"

#include "engine/zubapi.h"
#include "support/allocationcounter.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <json/reader.h>
#include <thread>
#include <vector>

namespace {

class CycleLoadTest : public ::testing::TestWithParam<EngineLoads::Load> { };

TEST_P(CycleLoadTest, ProcessAllocatesNothing)
{
    EngineLoads loads;
    std::string error;
    ZubEngine* engine = loads.start(GetParam(), error);
    if (!engine)
        GTEST_SKIP() << error;
    // Odd sizes and one above the components' limit, which runs in pieces.
    for (int frames : { 64, 128, 256, 512, 1, 1000, ZubEngine::MAX_CYCLE_FRAMES + 100 }) {
        std::vector<float> buffer(2 * static_cast<std::size_t>(frames));
        AllocationCounter counter;
        for (int i = 0; i < 20; ++i)
            engine->process(buffer.data(), frames);
        EXPECT_EQ(counter.count(), 0u) << frames << " frames";
    }
}

INSTANTIATE_TEST_SUITE_P(EveryLoad, CycleLoadTest,
    ::testing::Range(EngineLoads::Idle, EngineLoads::NumLoads),
    [](const auto& info) { return std::string(EngineLoads::name(info.param)); });

// Runs the cycle on its own thread, as the audio device does, counting cycles.
class AudioThread
{
public:
    explicit AudioThread(ZubEngine& engine)
        : m_thread([this, &engine] {
            std::vector<float> buffer(2 * 256);
            while (!m_bStop.load()) {
                engine.process(buffer.data(), 256);
                m_iCycles.fetch_add(1);
            }
        })
    {
    }
    ~AudioThread()
    {
        m_bStop = true;
        m_thread.join();
    }
    long cycles() const { return m_iCycles.load(); }

private:
    std::atomic<bool> m_bStop { false };
    std::atomic<long> m_iCycles { 0 };
    std::thread m_thread;
};

// Writes a descriptor, and a FIFO where the load will read: the loader then
// stays inside its read until the test opens the other end and closes it.
std::string stalledInstrument(const std::string& name, const std::string& descriptorType, int id,
    const std::string& fifo)
{
    const std::string dir = "res/instruments/20_stalled/" + name;
    std::filesystem::create_directories(std::filesystem::path(dir + "/" + fifo).parent_path());
    Quavertone::ZubInstrument descriptor;
    descriptor.set_name(name);
    descriptor.set_id(id);
    Quavertone::ZubInstrument::InstrumentType type;
    Quavertone::ZubInstrument::InstrumentType_Parse(descriptorType, &type);
    descriptor.set_instrument_type(type);
    EXPECT_EQ(ProtoAuthor::write(dir + "/instrument.zimbo", descriptor), 0);
    EXPECT_EQ(mkfifo((dir + "/" + fifo).c_str(), 0600), 0);
    return dir;
}

// While a loader sits in a file read (a SoundFont inside FluidSynth's own
// load, a sample inside the sampler's decode) and the GUI thread has long
// returned, the cycle keeps running: no lock it takes is held across file
// reads. Were one held, the cycle would stand still until the read ends.
TEST(CycleLocks, CycleRunsOnWhileALoaderIsStuckInARead)
{
    EngineLoads loads;
    std::string error;
    ZubEngine* engine = loads.start(EngineLoads::SynthDefault, error);
    ASSERT_NE(engine, nullptr) << error;
    Quavertone::SamplePack pack;
    pack.add_zone()->set_filename("stuck.wav");
    const std::string sampled = stalledInstrument("sampled", "Sampled", 7, "samplepack/stuck.wav");
    ASSERT_EQ(ProtoAuthor::write(sampled + "/samplepack/samplepack.zsfb", pack), 0);
    const std::string soundFont = stalledInstrument("font", "SoundFont", 3, "module.dat");

    AudioThread audio(*engine);
    for (const auto& [dir, fifo] : { std::pair { soundFont, soundFont + "/module.dat" },
             std::pair { sampled, sampled + "/samplepack/stuck.wav" } }) {
        SCOPED_TRACE(fifo);
        engine->instrument()->loadFromDirectory(dir);
        // Opening the writing end waits for the loader to open its end.
        std::FILE* writer = std::fopen(fifo.c_str(), "wb");
        ASSERT_NE(writer, nullptr);
        const long before = audio.cycles();
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (audio.cycles() < before + 1000 && std::chrono::steady_clock::now() < deadline)
            std::this_thread::yield();
        EXPECT_GE(audio.cycles(), before + 1000) << "the cycle waited on the loader";
        std::fclose(writer); // the read ends: a file with nothing in it
        engine->instrument()->waitForLoad();
    }
}

TEST(CycleMeter, TheApiReportsTheLargestCycle)
{
    EngineLoads loads;
    std::string error;
    ZubEngine* engine = loads.start(EngineLoads::SynthCrystalStrings, error);
    ASSERT_NE(engine, nullptr) << error;
    ZubApi api(engine);
    auto load = [&] {
        api.handleMessage("getEngineLoad");
        Json::Value root;
        EXPECT_TRUE(Json::Reader().parse(api.reply(), root)) << api.reply();
        return root["engine_load"];
    };
    api.handleMessage("resetEngineLoad");
    std::vector<float> buffer(2 * 256);
    for (int i = 0; i < 10; ++i)
        engine->process(buffer.data(), 256);
    Json::Value state = load();
    EXPECT_EQ(state["cycles"].asInt64(), 10);
    // 32 voices of 100 modes cannot take no time at all.
    EXPECT_GT(state["max_cycle_fraction"].asDouble(), 0.0);
    EXPECT_NEAR(state["max_cycle_usec"].asDouble() * 1e-6 / (256.0 / 44100.0),
        state["max_cycle_fraction"].asDouble(), 1e-6);
    // The cycle's own CPU time lies within its wall time.
    EXPECT_GT(state["max_cycle_cpu_fraction"].asDouble(), 0.0);
    EXPECT_LE(state["max_cycle_cpu_fraction"].asDouble(), state["max_cycle_fraction"].asDouble());

    api.handleMessage("resetEngineLoad");
    engine->process(buffer.data(), 256);
    EXPECT_EQ(load()["cycles"].asInt64(), 1);
}

} // namespace
