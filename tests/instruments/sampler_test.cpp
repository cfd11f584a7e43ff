#include "instruments/sampler.h"

#include "packfiles.h"
#include "signalmeasure.h"
#include "support/allocationcounter.h"
#include "support/debuglog.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <fstream>

namespace {

using packfiles::kFlatEnvelope;
using packfiles::packJson;
using packfiles::zoneJson;

class SamplerTest : public ::testing::Test
{
protected:
    std::string dir() const { return m_dir.path().string(); }

    // One zone over every key, root 60, with the given sample and envelope.
    void loadSingleZone(const std::vector<float>& samples, const std::string& adsr = kFlatEnvelope)
    {
        packfiles::writeSample(dir(), "s.wav", samples);
        packfiles::writePack(dir(), packJson(zoneJson(0, 127, 60, "s.wav", adsr)));
        ASSERT_EQ(m_sampler.load(dir()), 0);
    }

    std::vector<float> render(int frames, int block = 256)
    {
        return signalmeasure::render(m_sampler, frames, block);
    }

    TempDir m_dir;
    Sampler m_sampler;
};

// --- key map ------------------------------------------------------------------

TEST_F(SamplerTest, LaterZonesWinAndKeyRangesAreClamped)
{
    packfiles::writeSample(dir(), "s.wav", packfiles::constant(0.1f, 64));
    packfiles::writePack(dir(), packJson(zoneJson(0, 127, 60, "s.wav") + ", "
        + zoneJson(60, 72, 60, "s.wav") + ", " + zoneJson(80, 70, 60, "s.wav") + ", "
        + zoneJson(120, 200, 60, "s.wav") + ", " + zoneJson(-5, 3, 60, "s.wav")));
    ASSERT_EQ(m_sampler.load(dir()), 0);
    ASSERT_EQ(m_sampler.numZones(), 5);
    const std::pair<int, int> keyZone[] = {
        { 0, 4 }, { 3, 4 }, { 4, 0 }, { 59, 0 }, { 60, 1 }, { 72, 1 }, { 73, 0 },
        { 75, 0 }, { 119, 0 }, { 120, 3 }, { 127, 3 },
    };
    for (auto [key, zone] : keyZone)
        EXPECT_EQ(m_sampler.zoneIndexForKey(key), zone) << "key " << key;
}

TEST_F(SamplerTest, AKeyNoZoneCoversTakesNoVoice)
{
    packfiles::writeSample(dir(), "s.wav", packfiles::constant(0.5f, 4096));
    packfiles::writePack(dir(), packJson(zoneJson(60, 72, 60, "s.wav")));
    ASSERT_EQ(m_sampler.load(dir()), 0);
    m_sampler.noteOn(40);
    EXPECT_EQ(m_sampler.numActiveVoices(), 0);
    EXPECT_EQ(signalmeasure::rms(render(512), 0, 512), 0.0);
    EXPECT_EQ(m_sampler.zoneIndexForKey(40), -1);
}

TEST_F(SamplerTest, ZoneRangeInsideOutCoversNothing)
{
    packfiles::writeSample(dir(), "s.wav", packfiles::constant(0.5f, 64));
    packfiles::writePack(dir(), packJson(zoneJson(80, 70, 60, "s.wav")));
    ASSERT_EQ(m_sampler.load(dir()), 0);
    for (int key = 0; key < 128; ++key)
        EXPECT_EQ(m_sampler.zoneIndexForKey(key), -1) << key;
}

// --- pitch --------------------------------------------------------------------

TEST_F(SamplerTest, NotesShiftPitchByTheirDistanceFromTheRoot)
{
    constexpr double kHz = 441.0;
    packfiles::writeSample(dir(), "s.wav", packfiles::sine(kHz, 2 * 44100));
    packfiles::writePack(dir(), packJson(zoneJson(0, 127, 60, "s.wav")));
    struct Case
    {
        int semitones;
        double ratio;
    };
    const Case cases[] = { { 0, 1.0 }, { 12, 2.0 }, { 7, 1.4983 }, { 19, 2.9966 }, { -5, 0.7492 },
        { -12, 0.5 } };
    for (const Case& c : cases) {
        Sampler sampler;
        ASSERT_EQ(sampler.load(dir()), 0);
        sampler.noteOn(60 + c.semitones);
        const auto out = signalmeasure::render(sampler, 8192, 256);
        EXPECT_NEAR(signalmeasure::frequency(out, 64) / kHz, c.ratio, 0.0005)
            << c.semitones << " semitones";
        EXPECT_GT(signalmeasure::rms(out, 1024, 8192), 0.3) << c.semitones << " semitones";
    }
}

// A pack may hold any 32-bit root key: the shift stops at 127 semitones
// either way, also where the distance does not fit in 32 bits.
TEST_F(SamplerTest, RootKeysFarOutsideTheKeyboardShiftByAtMost127Semitones)
{
    packfiles::writeSample(dir(), "s.wav", packfiles::constant(0.5f, 44100));
    const auto play = [&](int rootKey, int note) {
        packfiles::writePack(dir(), packJson(zoneJson(0, 127, rootKey, "s.wav")));
        Sampler sampler;
        EXPECT_EQ(sampler.load(dir()), 0);
        sampler.noteOn(note);
        return signalmeasure::render(sampler, 256, 256);
    };
    struct Case
    {
        int rootKey;
        int note;
        int sameAsRootKey; // the root that gives the clamped shift
    };
    const Case cases[] = { { INT_MIN, 60, 60 - 127 }, { INT_MIN, 127, 0 }, { -2147483521, 10, 10 - 127 },
        { INT_MAX, 0, 127 } };
    for (const Case& c : cases) {
        const auto out = play(c.rootKey, c.note);
        EXPECT_EQ(out, play(c.sameAsRootKey, c.note)) << "root " << c.rootKey << ", note " << c.note;
        if (c.sameAsRootKey < c.note) // far up, the whole short sample is heard at once
            EXPECT_GT(signalmeasure::rms(out, 2, 16), 0.1) << "root " << c.rootKey;
    }
}

TEST_F(SamplerTest, NoteAtTheRootReproducesTheSampleAndEndsWithIt)
{
    const auto sample = packfiles::sine(441.0, 10000);
    loadSingleZone(sample);
    m_sampler.noteOn(60);
    const auto out = render(12000, 128);
    // Linear interpolation runs half a frame ahead of the source (after the
    // first two frames of a fresh resampler).
    double worst = 0.0;
    for (int k = 2; k + 1 < 10000; ++k)
        worst = std::max(worst, std::abs(out[2 * k] - 0.5 * (sample[2 * k] + sample[2 * k + 2])));
    EXPECT_LT(worst, 1e-3);
    EXPECT_NEAR(signalmeasure::rms(out, 0, 9900), 0.5 / std::sqrt(2.0), 0.005);
    EXPECT_EQ(m_sampler.numActiveVoices(), 0);
    EXPECT_EQ(signalmeasure::rms(out, 10000, 12000), 0.0);
}

TEST_F(SamplerTest, PitchedUpNoteEndsWithItsSourceInsteadOfStartingAgain)
{
    loadSingleZone(packfiles::sine(441.0, 4410));
    m_sampler.noteOn(67);
    const auto out = render(20000, 128);
    EXPECT_EQ(m_sampler.numActiveVoices(), 0);
    // 4410 frames read about 1.498 times faster last about 2944 frames.
    EXPECT_GT(signalmeasure::rms(out, 2700, 2900), 0.2);
    EXPECT_EQ(signalmeasure::rms(out, 3200, 20000), 0.0);
}

// --- envelope -----------------------------------------------------------------

TEST_F(SamplerTest, EnvelopeClockGrowsWithTheSquareOfTheNotesAge)
{
    // A constant sample shows the envelope itself.
    loadSingleZone(packfiles::constant(0.5f, 3 * 44100),
        R"({ "attack_time": 5, "decay_time": 1, "sustain_level": 0.5, "release_time": 300 })");
    m_sampler.noteOn(60);
    constexpr int kKeyUp = 44032; // about one second, on a block boundary
    auto out = render(kKeyUp, 128);
    m_sampler.noteOff(60);
    const auto tail = render(4000, 128);
    out.insert(out.end(), tail.begin(), tail.end());
    auto level = [&](int frame) { return out[2 * frame] / 0.5; };

    int full = 0;
    while (full < 3000 && level(full) < 0.999)
        ++full;
    EXPECT_NEAR(full, 2100, 5); // attack of 5 units: N (N + 1) / 882000 = 5
    EXPECT_NEAR(level(1000), 1000.0 * 1001 / 882000 / 5, 0.002);
    for (int k = 1; k < full; ++k)
        ASSERT_GE(level(k), level(k - 1)) << k;
    EXPECT_NEAR(level(2400), 0.5, 0.002); // decayed to the sustain level by 6 units
    EXPECT_NEAR(level(kKeyUp - 1), 0.5, 0.002);
    // Release: each frame now adds about 0.1 unit, so 300 units take about 3000 frames.
    EXPECT_NEAR(level(kKeyUp + 1500), 0.25, 0.01);
    EXPECT_LT(level(kKeyUp + 2990), 0.01);
    EXPECT_EQ(level(kKeyUp + 3100), 0.0);
    EXPECT_EQ(m_sampler.numActiveVoices(), 0);
}

TEST_F(SamplerTest, ShortReleaseAfterOneSecondEndsWithinTenFrames)
{
    loadSingleZone(packfiles::constant(0.5f, 2 * 44100),
        R"({ "attack_time": 0, "decay_time": 0, "sustain_level": 1, "release_time": 1 })");
    m_sampler.noteOn(60);
    render(44100, 100);
    m_sampler.noteOff(60);
    const auto out = render(100, 100);
    EXPECT_GT(out[0], 0.0f);
    EXPECT_EQ(out[2 * 10], 0.0f);
    EXPECT_EQ(m_sampler.numActiveVoices(), 0);
}

TEST_F(SamplerTest, DamagedEnvelopeSettingsStayWithinFullScale)
{
    loadSingleZone(packfiles::constant(0.5f, 8192),
        R"({ "attack_time": "NaN", "decay_time": -3, "sustain_level": 40, "release_time": "Infinity" })");
    m_sampler.noteOn(60);
    for (float v : render(8192))
        ASSERT_TRUE(std::isfinite(v) && std::abs(v) <= 0.5f) << v;
}

// --- voices -------------------------------------------------------------------

TEST_F(SamplerTest, EleventhNoteIsSilentAndTakesNoVoice)
{
    // At or below the root a constant sample stays constant (no filter).
    loadSingleZone(packfiles::constant(0.1f, 44100));
    for (int key = 51; key <= 60; ++key)
        m_sampler.noteOn(key);
    render(512);
    m_sampler.noteOn(50);
    EXPECT_EQ(m_sampler.numActiveVoices(), 10);
    const auto out = render(512);
    EXPECT_NEAR(out[0], 10 * 0.1 / std::sqrt(10.0), 1e-3); // ten voices at 1/sqrt(10)
    EXPECT_NEAR(out[2 * 511], out[0], 1e-4);
    m_sampler.noteOff(50); // releases nothing
    render(512);
    EXPECT_EQ(m_sampler.numActiveVoices(), 10);
}

// The voices render one after another in one set of scratch buffers: two
// pitched-up notes together sound as each alone, summed (at 1/sqrt(2) once
// the compensation has settled).
TEST_F(SamplerTest, PitchedUpVoicesTogetherSoundAsEachAlone)
{
    packfiles::writeSample(dir(), "s.wav", packfiles::sine(441.0, 2 * 44100));
    packfiles::writePack(dir(), packJson(zoneJson(0, 127, 60, "s.wav")));
    const auto play = [&](std::initializer_list<int> notes) {
        Sampler sampler;
        EXPECT_EQ(sampler.load(dir()), 0);
        for (int note : notes)
            sampler.noteOn(note);
        return signalmeasure::render(sampler, 4096, 1024);
    };
    const auto fifth = play({ 67 });
    const auto octave = play({ 72 });
    const auto both = play({ 67, 72 });
    for (std::size_t i = 2 * 64; i < both.size(); ++i)
        ASSERT_NEAR(both[i], (fifth[i] + octave[i]) / std::sqrt(2.0f), 1e-6) << "sample " << i;
}

TEST_F(SamplerTest, SecondVoiceGlidesTheMixToOneOverRootTwo)
{
    loadSingleZone(packfiles::constant(0.5f, 44100));
    m_sampler.noteOn(60);
    const auto one = render(512);
    EXPECT_NEAR(one[2 * 511], 0.5, 1e-3);
    m_sampler.noteOn(58);
    const auto two = render(256);
    const double target = 2 * 0.5 / std::sqrt(2.0);
    // A fresh voice's first frame is still interpolated from silence.
    EXPECT_GT(two[2 * 1], 0.98); // the glide starts near unit gain for the sum of two
    for (int i = 2; i < 64; ++i)
        ASSERT_LT(two[2 * i], two[2 * i - 2]) << i;
    for (int i = 64; i < 256; ++i)
        ASSERT_NEAR(two[2 * i], target, 1e-3) << i;
}

TEST_F(SamplerTest, StrikingAPlayingKeyAgainReleasesTheFirstVoice)
{
    loadSingleZone(packfiles::constant(0.5f, 3 * 44100),
        R"({ "attack_time": 0, "decay_time": 0, "sustain_level": 1, "release_time": 200 })");
    m_sampler.noteOn(60);
    render(4096);
    DebugLogOn debug; // per-note lines
    testing::internal::CaptureStdout();
    m_sampler.noteOn(60);
    EXPECT_NE(testing::internal::GetCapturedStdout().find("killing already-playing note"),
        std::string::npos);
    EXPECT_EQ(m_sampler.numActiveVoices(), 2);
    render(30000); // the first voice's release runs out
    EXPECT_EQ(m_sampler.numActiveVoices(), 1);
    m_sampler.noteOff(60);
    render(30000);
    EXPECT_EQ(m_sampler.numActiveVoices(), 0);
}

TEST_F(SamplerTest, KeyUpOfAFinishedNoteLeavesTheVoiceItsKeyLost)
{
    packfiles::writeSample(dir(), "short.wav", packfiles::constant(0.5f, 1000));
    packfiles::writeSample(dir(), "long.wav", packfiles::constant(0.5f, 44100));
    packfiles::writePack(dir(), packJson(zoneJson(0, 61, 60, "short.wav") + ", "
        + zoneJson(62, 127, 62, "long.wav")));
    ASSERT_EQ(m_sampler.load(dir()), 0);
    m_sampler.noteOn(60);
    render(2048);
    ASSERT_EQ(m_sampler.numActiveVoices(), 0); // the short sample has ended, key 60 still held
    m_sampler.noteOn(62);                      // takes the same voice
    m_sampler.noteOff(60);
    const auto out = render(4096);
    EXPECT_EQ(m_sampler.numActiveVoices(), 1);
    EXPECT_NEAR(out[2 * 4095], 0.5, 1e-3);
}

TEST_F(SamplerTest, ProcessAllocatesNothing)
{
    loadSingleZone(packfiles::sine(441.0, 20000));
    for (int key : { 60, 55, 48, 61, 67, 72, 79, 84, 96, 127 })
        m_sampler.noteOn(key);
    std::vector<float> buffer(2 * 512);
    AllocationCounter counter;
    for (int i = 0; i < 100; ++i) // long enough for every voice to run out
        m_sampler.process(buffer.data(), 512, 0.8f);
    EXPECT_EQ(counter.count(), 0u);
    EXPECT_EQ(m_sampler.numActiveVoices(), 0);
}

TEST_F(SamplerTest, BuffersLongerThanTheMixingBufferArePlayedWhole)
{
    loadSingleZone(packfiles::constant(0.5f, 44100));
    m_sampler.noteOn(60);
    std::vector<float> out(2 * 20000, 0.0f);
    m_sampler.process(out.data(), 20000, 1.0f);
    EXPECT_NEAR(out[2 * 19999], 0.5, 1e-3);
    EXPECT_NEAR(out[2 * 16384], 0.5, 1e-3);
}

TEST_F(SamplerTest, GainScalesTheMix)
{
    loadSingleZone(packfiles::constant(0.5f, 4096));
    m_sampler.noteOn(60);
    std::vector<float> out(2 * 256, 0.25f);
    m_sampler.process(out.data(), 256, 0.5f);
    EXPECT_NEAR(out[2 * 100], 0.25 + 0.25, 1e-3); // added to what was there
}

// --- loading ------------------------------------------------------------------

TEST_F(SamplerTest, MissingPackKeepsThePreviousZones)
{
    loadSingleZone(packfiles::constant(0.5f, 4096));
    testing::internal::CaptureStdout();
    EXPECT_EQ(m_sampler.load(dir() + "/nowhere"), 1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
        "Failed to open sample pack: " + dir() + "/nowhere\n");
    EXPECT_EQ(m_sampler.numZones(), 1);
    m_sampler.noteOn(60);
    EXPECT_NEAR(render(256)[2 * 100], 0.5, 1e-3);
}

TEST_F(SamplerTest, MissingSampleFileGivesASilentZoneWithItsLogLine)
{
    packfiles::writePack(dir(), packJson(zoneJson(0, 127, 60, "gone.wav")));
    testing::internal::CaptureStdout();
    ASSERT_EQ(m_sampler.load(dir()), 0);
    EXPECT_NE(testing::internal::GetCapturedStdout().find("Failed to load " + dir() + "/gone.wav"),
        std::string::npos);
    ASSERT_EQ(m_sampler.numZones(), 1);
    m_sampler.noteOn(60);
    m_sampler.noteOn(70);
    EXPECT_EQ(signalmeasure::rms(render(1024), 0, 1024), 0.0);
}

// Zones whose file gives no audio play silence without holding a voice: a
// held voice would lower every other note's level and ten strikes would mute
// the instrument.
TEST_F(SamplerTest, ZonesWithoutAudioTakeNoVoice)
{
    packfiles::writeSample(dir(), "s.wav", packfiles::constant(0.5f, 44100));
    std::ofstream(dir() + "/garbage.wav", std::ios::binary) << "RIFF, but nothing after it";
    const std::string silentFiles[] = { "", "../s.wav", "/etc/passwd", "gone.wav", "garbage.wav" };
    for (const std::string& file : silentFiles) {
        SCOPED_TRACE("zone file \"" + file + "\"");
        packfiles::writePack(dir(), packJson(zoneJson(0, 59, 60, file) + ", " + zoneJson(60, 127, 60, "s.wav")));
        testing::internal::CaptureStdout();
        ASSERT_EQ(m_sampler.load(dir()), 0);
        testing::internal::GetCapturedStdout();
        for (int strike = 0; strike < 12; ++strike) {
            m_sampler.noteOn(40);
            render(64);
            m_sampler.noteOff(40);
        }
        EXPECT_EQ(m_sampler.numActiveVoices(), 0);
        m_sampler.noteOn(60);
        const auto one = render(512);
        EXPECT_NEAR(one[2 * 300], 0.5, 1e-3) << "a single note plays at full level";
        for (int key = 61; key < 70; ++key)
            m_sampler.noteOn(key);
        EXPECT_EQ(m_sampler.numActiveVoices(), 10);
        m_sampler.noteOn(40);
        EXPECT_EQ(m_sampler.numActiveVoices(), 10);
    }
}

TEST_F(SamplerTest, ZoneFileNamesLeadingOutsideThePackAreRefused)
{
    // A real sample outside the pack's folder, reachable by each name below.
    TempDir outside;
    packfiles::writeSample(outside.path().string(), "x.wav", packfiles::constant(0.5f, 4096));
    const std::string outsideName = outside.path().filename().string();
    const std::string names[] = { "../" + outsideName + "/x.wav", outside.file("x.wav"),
        "sub/../../" + outsideName + "/x.wav", "..\\" + outsideName + "\\x.wav", "C:\\x.wav", "" };
    for (const std::string& name : names) {
        std::string quoted; // as a JSON string
        for (char c : name)
            quoted += c == '\\' ? std::string("\\\\") : std::string(1, c);
        packfiles::writePack(dir(), packJson(zoneJson(0, 127, 60, quoted)));
        testing::internal::CaptureStdout();
        ASSERT_EQ(m_sampler.load(dir()), 0);
        const std::string log = testing::internal::GetCapturedStdout();
        EXPECT_NE(log.find("Refused the sample file name \"" + name + "\" in " + dir()
                      + ": it leads outside the instrument folder"),
            std::string::npos)
            << log;
        EXPECT_EQ(log.find("Loaded sample"), std::string::npos) << log;
        m_sampler.noteOn(60);
        EXPECT_EQ(signalmeasure::rms(render(512), 0, 512), 0.0) << name;
        m_sampler.noteOff(60);
    }
    // Names that only look alike stay allowed.
    packfiles::writeSample(dir(), "..x.wav", packfiles::constant(0.5f, 4096));
    packfiles::writePack(dir(), packJson(zoneJson(0, 127, 60, "..x.wav")));
    ASSERT_EQ(m_sampler.load(dir()), 0);
    m_sampler.noteOn(60);
    EXPECT_NEAR(render(256)[2 * 100], 0.5, 1e-3);
}

TEST_F(SamplerTest, DamagedPackLoadsWhatItCanWithoutCrashing)
{
    packfiles::writeSample(dir(), "s.wav", packfiles::constant(0.5f, 4096));
    packfiles::writePack(dir(), packJson(zoneJson(0, 59, 60, "s.wav") + ", " + zoneJson(60, 127, 60, "s.wav")));
    const std::string path = dir() + "/samplepack.zsfb";
    std::string bytes;
    {
        std::ifstream in(path, std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(in), {});
    }
    const std::string damaged[] = { bytes.substr(0, bytes.size() - 4), bytes.substr(0, 7),
        std::string("\x12\xff\xff\x7f\x08", 5), std::string(300, '\xee') };
    for (const std::string& content : damaged) {
        std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
        Sampler sampler;
        EXPECT_EQ(sampler.load(dir()), 0);
        for (int key = 0; key < 128; ++key)
            sampler.noteOn(key);
        for (float v : signalmeasure::render(sampler, 1024))
            ASSERT_TRUE(std::isfinite(v));
    }
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes.substr(0, bytes.size() - 4);
    ASSERT_EQ(m_sampler.load(dir()), 0);
    EXPECT_EQ(m_sampler.zoneIndexForKey(10), 0); // the whole first zone survived
}

TEST_F(SamplerTest, NewPackSilencesEveryVoice)
{
    loadSingleZone(packfiles::constant(0.5f, 44100));
    m_sampler.noteOn(60);
    m_sampler.noteOn(64);
    render(256);
    ASSERT_EQ(m_sampler.load(dir()), 0);
    EXPECT_EQ(m_sampler.numActiveVoices(), 0);
    m_sampler.noteOff(60); // refers to nothing any more
    EXPECT_EQ(signalmeasure::rms(render(256), 0, 256), 0.0);
}

} // namespace
