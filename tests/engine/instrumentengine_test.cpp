#include "core/recordingbuffer.h"
#include "engine/transport.h"
#include "engine/zubapi.h"
#include "engine/zubengine.h"
#include "instruments/instrument.h"
#include "instruments/soundfontsynth.h"
#include "support/instrumentlibrary.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>
#include <json/reader.h>

#include <atomic>
#include <cmath>
#include <filesystem>
#include <memory>
#include <thread>
#include <vector>

namespace {

// The master bus's dither stays below this.
constexpr double kSilence = 1e-5;

// The engine finds its library as "res" in the working directory: each test
// runs in a fresh directory holding a small real library.
class InstrumentEngineTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        Transport::instance().setPosition(0);
        library.makeStandard();
        m_previousDir = std::filesystem::current_path();
        std::filesystem::current_path(temp.path());
        engine = std::make_unique<ZubEngine>(&audio);
        api = std::make_unique<ZubApi>(engine.get());
        engine->instrument()->waitForLoad();
    }
    void TearDown() override
    {
        api.reset();
        engine.reset();
        std::filesystem::current_path(m_previousDir);
    }
    // Level of the engine's output while a note sounds.
    double playNote(int note = 60)
    {
        engine->noteOn(note, 100);
        std::vector<float> buf(2 * 256);
        double sum = 0.0;
        for (int block = 0; block < 32; ++block) {
            engine->process(buf.data(), 256);
            for (float v : buf)
                sum += double(v) * v;
        }
        engine->noteOff(note);
        return std::sqrt(sum / (32 * 512));
    }
    std::string send(const std::string& message)
    {
        api->handleMessage(message);
        return api->reply();
    }

    TempDir temp;
    InstrumentLibrary library { temp.path().string() };
    FakeAudioManager audio { { "USB Microphone", "Line In" } };
    std::unique_ptr<ZubEngine> engine;
    std::unique_ptr<ZubApi> api;

private:
    std::filesystem::path m_previousDir;
};

TEST_F(InstrumentEngineTest, StartsWithClassicAndPlaysEveryKind)
{
    Instrument& instrument = *engine->instrument();
    EXPECT_EQ(instrument.name(), "classic");
    EXPECT_EQ(instrument.logo(), "../../res/instruments/00_essentials/classic/logo.png");
    EXPECT_GT(playNote(), 0.01);

    struct Case { unsigned id; int type; };
    const Case cases[] = {
        { 260, Instrument::Synth },
        { 4001, Instrument::SoundFont },
        { 1, Instrument::Sampled },
    };
    for (const Case& c : cases) {
        EXPECT_EQ(engine->loadInstrument(c.id), 0);
        instrument.waitForLoad();
        EXPECT_EQ(instrument.id(), static_cast<int>(c.id));
        EXPECT_EQ(instrument.instrumentType(), c.type);
        EXPECT_GT(playNote(), 0.01) << c.id;
    }
    EXPECT_EQ(audio.choices(), (std::vector<int> { -1, -1, -1 }));
}

TEST_F(InstrumentEngineTest, LiveInputIdsOpenTheirDevice)
{
    EXPECT_EQ(engine->loadInstrument(501), 0);
    Instrument& instrument = *engine->instrument();
    EXPECT_EQ(audio.choices(), std::vector<int> { 1 });
    EXPECT_EQ(instrument.instrumentType(), Instrument::InputDevice);
    EXPECT_EQ(instrument.name(), "Line In");
    EXPECT_EQ(instrument.id(), 501);
    EXPECT_LT(playNote(), kSilence); // notes do nothing, and no input has arrived

    std::vector<float> input(2 * 256 * 32, 0.2f);
    instrument.recordingBuffer()->write(input.data(), 256 * 32);
    EXPECT_GT(playNote(), 0.01);

    // No third device: refused, nothing changes.
    testing::internal::CaptureStdout();
    EXPECT_EQ(engine->loadInstrument(502), 1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
        "loading input device id: 502\nNo input device with id: 502\n");
    EXPECT_EQ(instrument.id(), 501);
    EXPECT_EQ(audio.choices(), std::vector<int> { 1 });

    // 499 and 600 are library ids: the input closes and the library is asked.
    for (unsigned id : { 499u, 600u }) {
        testing::internal::CaptureStdout();
        EXPECT_EQ(engine->loadInstrument(id), 0);
        EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Failed to open Zub Instrument: \n***loaded instrument on demand from \n");
    }
    EXPECT_EQ(audio.choices(), (std::vector<int> { 1, -1, -1 }));
}

TEST_F(InstrumentEngineTest, ApiCommands)
{
    Json::Value root;
    Json::Reader reader;
    ASSERT_TRUE(reader.parse(send("getInstrument"), root));
    EXPECT_EQ(root["instrument"]["name"].asString(), "classic");
    EXPECT_EQ(root["instrument"]["id"].asInt(), 1);

    EXPECT_EQ(send("loadInstrument:260"), "");
    ASSERT_TRUE(reader.parse(send("getInstrument"), root));
    EXPECT_EQ(root["instrument"]["id"].asInt(), 260);
    EXPECT_EQ(root["instrument"]["instrument_type"].asInt(), 1);

    const std::string collection = send("getInstrumentCollection");
    ASSERT_TRUE(reader.parse(collection, root));
    const Json::Value& groups = root["instrument_collection"]["instrument_groups"];
    ASSERT_EQ(groups.size(), 4u);
    EXPECT_EQ(groups[0]["name"].asString(), "res/instruments/00_essentials");
    EXPECT_EQ(groups[3]["instruments"][1]["id"].asInt(), 501);
    // Styled like every state reply.
    EXPECT_EQ(collection.rfind("{\n   \"instrument_collection\" : {", 0), 0u);

    // An unknown id: the descriptor of "" cannot be opened, the instrument is silent.
    EXPECT_EQ(send("loadInstrument:77"), "");
    EXPECT_LT(playNote(), kSilence);
}

TEST_F(InstrumentEngineTest, BridgeReachesTheInstrument)
{
    RecordingBridge bridge;
    engine->setJsBridge(&bridge);
    engine->loadInstrument(260);
    EXPECT_EQ(bridge.messages(), (std::vector<std::string> {
        "{ \"instrument\" : { \"loading\" : 1 } }", "{ \"instrument\" : { \"loading\" : 0 } }" }));
    engine->setJsBridge(nullptr);
}

// Quick switching from one thread while notes arrive from another and the
// audio thread runs: no crash, no race, and the last choice is what plays.
TEST_F(InstrumentEngineTest, TwoHundredSwitchesWhilePlaying)
{
    std::atomic<bool> done { false };
    std::thread audioThread([&] {
        std::vector<float> buf(2 * 256);
        while (!done)
            engine->process(buf.data(), 256);
    });
    std::thread noteThread([&] {
        for (int n = 0; !done; ++n) {
            engine->noteOn(48 + n % 24, 100);
            engine->noteOff(48 + (n + 7) % 24);
            std::this_thread::yield();
        }
    });
    const unsigned ids[] = { 260, 500, 1, 4001 };
    for (int i = 0; i < 200; ++i)
        engine->loadInstrument(ids[i % 4]);
    Instrument& instrument = *engine->instrument();
    instrument.waitForLoad();
    done = true;
    audioThread.join();
    noteThread.join();

    EXPECT_EQ(instrument.id(), 4001);
    EXPECT_EQ(instrument.instrumentType(), Instrument::SoundFont);
    EXPECT_TRUE(instrument.isReady());
    EXPECT_EQ(instrument.soundFontSynth()->program(), 1);
    EXPECT_GT(playNote(), 0.01);
}

} // namespace
