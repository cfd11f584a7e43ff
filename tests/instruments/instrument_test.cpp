#include "core/recordingbuffer.h"
#include "instruments/instrument.h"
#include "instruments/sampler.h"
#include "instruments/soundfontsynth.h"
#include "proto/zubinstrument.pb.h"
#include "signalmeasure.h"
#include "support/allocationcounter.h"
#include "support/instrumentlibrary.h"
#include "support/setclock.h"
#include "support/tempdir.h"
#include "synth/synthengine.h"

#include <gtest/gtest.h>
#include <thread>
#include <chrono>
#include <atomic>

#include <cmath>
#include <vector>

namespace {

const std::string kStarted = "{ \"instrument\" : { \"loading\" : 1 } }";
const std::string kFinished = "{ \"instrument\" : { \"loading\" : 0 } }";

std::vector<float> render(Instrument& instrument, int frames, int block = 256)
{
    std::vector<float> out(2 * frames, 0.0f);
    for (int done = 0; done < frames; done += block)
        instrument.process(out.data() + 2 * done, std::min(block, frames - done));
    return out;
}

double loudness(Instrument& instrument, int note)
{
    instrument.noteOn(note);
    const std::vector<float> out = render(instrument, 8192);
    instrument.noteOff(note);
    return signalmeasure::rms(out, 0, 8192);
}

class InstrumentTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        library.makeStandard();
        instrument.setJsBridge(&bridge);
    }
    std::string dir(const std::string& relative) const { return library.instrumentsDir() + "/" + relative; }
    int load(const std::string& relative)
    {
        const int rc = instrument.loadFromDirectory(dir(relative));
        instrument.waitForLoad();
        return rc;
    }

    TempDir temp;
    InstrumentLibrary library { temp.path().string() };
    RecordingBridge bridge;
    Instrument instrument;
};

TEST_F(InstrumentTest, EveryKindPlaysAndAnnouncesItsLoad)
{
    struct Case { const char* dir; int type; };
    const Case cases[] = {
        { "00_essentials/classic", Instrument::Sampled },
        { "10_synth/lead", Instrument::Synth },
        { "20_soundfont/piano", Instrument::SoundFont },
    };
    int loads = 0;
    for (const Case& c : cases) {
        ASSERT_EQ(load(c.dir), 0) << c.dir;
        ++loads;
        EXPECT_EQ(instrument.instrumentType(), c.type) << c.dir;
        EXPECT_TRUE(instrument.isReady()) << c.dir;
        EXPECT_GT(loudness(instrument, 60), 0.01) << c.dir;
        EXPECT_EQ(bridge.count(kStarted), loads) << c.dir;
        EXPECT_EQ(bridge.count(kFinished), loads) << c.dir;
    }
    const std::vector<std::string> messages = bridge.messages();
    for (std::size_t i = 0; i < messages.size(); ++i)
        EXPECT_EQ(messages[i], i % 2 == 0 ? kStarted : kFinished) << i;
}

TEST_F(InstrumentTest, DescriptorMetadataAndJson)
{
    const std::string path = library.addInstrument(library.instrumentsDir() + "/10_synth", "pads",
        "name: \"Pads\" description: \"soft\" id: 1030 instrument_type: Synth control_type: DrumPads "
        "artwork { logo: \"art.png\" } gain: 0.5");
    Quavertone::ZubInstrument descriptor;
    ASSERT_TRUE(instrument.readDescriptor(path, descriptor));
    Json::Value root;
    instrument.toJson(root);
    const Json::Value& state = root["instrument"];
    EXPECT_EQ(state["name"].asString(), "Pads");
    EXPECT_EQ(state["description"].asString(), "soft");
    EXPECT_EQ(state["id"].asInt(), 1030);
    EXPECT_EQ(state["logo"].asString(), "../../" + path + "/art.png");
    EXPECT_EQ(state["instrument_type"].asInt(), 1);
    EXPECT_EQ(state["control_type"].asInt(), 1);
    EXPECT_EQ(root.getMemberNames().size(), 1u);
    EXPECT_EQ(state.getMemberNames().size(), 6u);
}

TEST_F(InstrumentTest, SynthProgramIsTheLowByteOfTheId)
{
    ASSERT_EQ(load("10_synth/lead"), 0);
    EXPECT_EQ(instrument.synthEngine()->currentProgramIndex(), 4); // 260 & 255
    // 3000 & 255 = 184 is past the bank: the program stays.
    const std::string path = library.addInstrument(library.instrumentsDir() + "/10_synth", "far",
        "name: \"Far\" id: 3000 instrument_type: Synth");
    ASSERT_EQ(instrument.loadFromDirectory(path), 0);
    EXPECT_EQ(instrument.synthEngine()->currentProgramIndex(), 4);
    EXPECT_TRUE(instrument.isReady());
}

TEST_F(InstrumentTest, SoundFontIdChoosesFileAndProgram)
{
    const std::string group = library.instrumentsDir() + "/20_soundfont";
    struct Case { int id; bool shared; int program; };
    const Case cases[] = { { 4012, true, 12 }, { 4000, false, 0 }, { 5000, false, 0 }, { 4001, true, 1 } };
    for (const Case& c : cases) {
        const std::string name = "sf" + std::to_string(c.id);
        const std::string path = library.addInstrument(group, name,
            "name: \"" + name + "\" id: " + std::to_string(c.id) + " instrument_type: SoundFont");
        if (!c.shared)
            library.linkSoundFont(path);
        ASSERT_EQ(instrument.loadFromDirectory(path), 0);
        instrument.waitForLoad();
        const std::string expected = c.shared ? path + "/../library/module.dat" : path + "/module.dat";
        EXPECT_EQ(instrument.soundFontSynth()->fontPath(), expected) << c.id;
        EXPECT_EQ(instrument.soundFontSynth()->program(), c.program) << c.id;
        EXPECT_TRUE(instrument.isReady()) << c.id;
    }
}

TEST_F(InstrumentTest, NewerLoadSupersedesOneStillLoading)
{
    // The SoundFont takes a while to read; the synth chosen meanwhile wins.
    instrument.loadFromDirectory(dir("20_soundfont/piano"));
    ASSERT_EQ(instrument.loadFromDirectory(dir("10_synth/lead")), 0);
    instrument.waitForLoad();
    EXPECT_EQ(instrument.instrumentType(), Instrument::Synth);
    EXPECT_TRUE(instrument.isReady());
    EXPECT_FALSE(instrument.soundFontSynth()->hasFont());
    EXPECT_EQ(bridge.count(kStarted), 2);
    EXPECT_EQ(bridge.count(kFinished), 2);

    // And the other way round: a sampled load overtaken by the SoundFont.
    instrument.loadFromDirectory(dir("00_essentials/classic"));
    instrument.loadFromDirectory(dir("20_soundfont/piano"));
    instrument.waitForLoad();
    EXPECT_EQ(instrument.instrumentType(), Instrument::SoundFont);
    EXPECT_TRUE(instrument.isReady());
    EXPECT_GT(loudness(instrument, 60), 0.01);
    EXPECT_EQ(bridge.count(kStarted), 4);
    EXPECT_EQ(bridge.count(kFinished), 4);
}

TEST_F(InstrumentTest, FailedLoadsLeaveTheInstrumentSilent)
{
    ASSERT_EQ(load("00_essentials/classic"), 0);
    // A missing descriptor: nothing announced, nothing plays.
    testing::internal::CaptureStdout();
    EXPECT_EQ(load("00_essentials/missing"), 1);
    EXPECT_NE(testing::internal::GetCapturedStdout().find("Failed to open Zub Instrument: " + dir("00_essentials/missing")),
        std::string::npos);
    EXPECT_FALSE(instrument.isReady());
    EXPECT_EQ(loudness(instrument, 60), 0.0);
    EXPECT_EQ(bridge.count(kStarted), 1);

    // A sample pack that is not there: the load finishes but nothing plays,
    // not even the pack the sampler held before.
    ASSERT_EQ(load("00_essentials/classic"), 0);
    const std::string empty = library.addInstrument(library.instrumentsDir() + "/00_essentials", "nopack",
        "name: \"No pack\" id: 7");
    ASSERT_EQ(instrument.loadFromDirectory(empty), 0);
    instrument.waitForLoad();
    EXPECT_FALSE(instrument.isReady());
    EXPECT_EQ(loudness(instrument, 60), 0.0);
    EXPECT_EQ(bridge.count(kStarted), bridge.count(kFinished));
}

TEST_F(InstrumentTest, SilentFromDescriptorUntilTheLoadCompletes)
{
    ASSERT_EQ(load("00_essentials/classic"), 0);
    Quavertone::ZubInstrument descriptor;
    ASSERT_TRUE(instrument.readDescriptor(dir("10_synth/lead"), descriptor));
    // Between the descriptor and the finished load: notes are ignored and
    // the buffer is left as it was.
    instrument.noteOn(60);
    std::vector<float> buf(2 * 256, 0.5f);
    instrument.process(buf.data(), 256);
    for (float v : buf)
        ASSERT_EQ(v, 0.5f);
    ASSERT_EQ(instrument.load(descriptor, dir("10_synth/lead")), 0);
    EXPECT_GT(loudness(instrument, 60), 0.01);
}

TEST_F(InstrumentTest, DescriptorOfAnUnloadableKindIsRefused)
{
    ASSERT_EQ(load("10_synth/lead"), 0);
    const std::string path = library.addInstrument(library.instrumentsDir() + "/10_synth", "input",
        "name: \"Input\" id: 9 instrument_type: InputDevice");
    testing::internal::CaptureStdout();
    EXPECT_EQ(instrument.loadFromDirectory(path), 1);
    EXPECT_NE(testing::internal::GetCapturedStdout().find("Error: Instrument type not implemented yet: 2"),
        std::string::npos);
    // Nothing changed: the synth still plays under its own name.
    EXPECT_EQ(instrument.name(), "Lead");
    EXPECT_EQ(instrument.instrumentType(), Instrument::Synth);
    EXPECT_GT(loudness(instrument, 60), 0.01);
    EXPECT_EQ(bridge.count(kStarted), 1);
}

TEST(InstrumentInputDevice, NamesAndLogos)
{
    const std::string logos = "../..//res/instruments/50_inputdevices";
    struct Case { const char* device; const char* shown; const char* logo; };
    const Case cases[] = {
        { "Exactly17Letters!", "Exactly17Letters!", "/lineinput/logo.png" },
        { "Line In 1/2 of the big card", "Line In 1/2 of ...", "/lineinput/logo.png" },
        { "USB Microphone", "USB Microphone", "/microphone/logo.png" },
        { "FaceTime HD Camera", "FaceTime HD Cam...", "/microphone/logo.png" },
        { "Camera Microphone", "Camera Microphone", "/microphone/logo.png" },
        { "Soundflower (2ch)", "Soundflower (2ch)", "/soundflower/logo.png" },
        { "usb microphone", "usb microphone", "/lineinput/logo.png" },
        // Characters, not bytes: 18 characters in 20 bytes are cut whole.
        { "Mikrofon für Größe", "Mikrofon für Gr...", "/lineinput/logo.png" },
    };
    for (const Case& c : cases) {
        Instrument instrument;
        instrument.setInputDevice(3, c.device);
        EXPECT_EQ(instrument.name(), c.shown) << c.device;
        EXPECT_EQ(instrument.logo(), logos + c.logo) << c.device;
        EXPECT_EQ(instrument.id(), 503);
        EXPECT_EQ(instrument.instrumentType(), Instrument::InputDevice);
    }
}

TEST(InstrumentInputDevice, PassesInputThroughAndMetersAtMostEvery50ms)
{
    SetClock clock;
    clock.m_now = 1000000;
    RecordingBridge bridge;
    Instrument instrument(clock);
    instrument.setJsBridge(&bridge);
    instrument.selectInputDevice(501, "Line In");
    EXPECT_EQ(instrument.id(), 501);
    EXPECT_EQ(bridge.count(kStarted), 1);
    EXPECT_EQ(bridge.count(kFinished), 1);

    std::vector<float> input(2 * 256, 0.25f);
    instrument.recordingBuffer()->write(input.data(), 256);
    instrument.noteOn(60); // no effect on a live input
    std::vector<float> out(2 * 256, 0.0f);
    instrument.process(out.data(), 256);
    for (float v : out)
        ASSERT_FLOAT_EQ(v, 0.25f);

    auto meters = [&] {
        int n = 0;
        for (const std::string& m : bridge.messages())
            n += m.rfind("{ \"input_vu_meter\" : { \"value\" : ", 0) == 0;
        return n;
    };
    EXPECT_EQ(meters(), 1);
    EXPECT_EQ(bridge.messages().back(), "{ \"input_vu_meter\" : { \"value\" : 0.353553 } }");
    clock.m_now += 50000; // not more than 50 ms yet
    instrument.process(out.data(), 256);
    EXPECT_EQ(meters(), 1);
    clock.m_now += 1;
    instrument.process(out.data(), 256);
    EXPECT_EQ(meters(), 2);
}

TEST_F(InstrumentTest, ProcessAllocatesNothing)
{
    std::vector<float> buf(2 * 20000);
    for (const char* path : { "00_essentials/classic", "10_synth/lead", "20_soundfont/piano" }) {
        ASSERT_EQ(load(path), 0);
        instrument.noteOn(60);
        instrument.noteOn(64);
        AllocationCounter counter;
        for (int frames : { 1, 256, 20000 })
            instrument.process(buf.data(), frames);
        EXPECT_EQ(counter.count(), 0u) << path;
        instrument.noteOff(60);
        instrument.noteOff(64);
    }
    instrument.setJsBridge(nullptr);
    instrument.setInputDevice(0, "Line In");
    AllocationCounter counter;
    instrument.process(buf.data(), 256);
    EXPECT_EQ(counter.count(), 0u);
}

// A bridge that is slow to take a message, so the loader is caught posting.
class SlowBridge : public NativeJsBridge
{
public:
    void deliverMessage(std::string message) override { postMessage(std::move(message)); }
    void postMessage(std::string) override
    {
        m_bPosting = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        m_bPosting = false;
    }
    std::atomic<bool> m_bPosting { false };
};

TEST_F(InstrumentTest, DetachingTheBridgeWaitsForAPostInFlight)
{
    SlowBridge slow;
    instrument.setJsBridge(&slow);
    // A sample pack loads on the loader thread, which announces the end.
    instrument.loadFromDirectory(dir("00_essentials/classic"));
    while (!slow.m_bPosting)
        std::this_thread::yield();
    instrument.setJsBridge(nullptr);
    // The bridge could be destroyed now: nothing is posting to it.
    EXPECT_FALSE(slow.m_bPosting);
    instrument.waitForLoad();
}

} // namespace
