#include "engine/loopimport.h"
#include "engine/project.h"
#include "loops/idea.h"
#include "loops/ideacollection.h"
#include "loops/loop.h"
#include "support/enginetest.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <fstream>

namespace {

// Frames of the loop's left channel that cross zero upwards, per second.
double frequency(const Loop& loop, int64 soundFrames)
{
    int crossings = 0;
    for (int64 i = 1; i < soundFrames; ++i)
        crossings += loop.data()[2 * (i - 1)] < 0.0f && loop.data()[2 * i] >= 0.0f;
    return crossings * double(ZUB_SAMPLE_RATE) / double(soundFrames);
}

float peak(const Loop& loop, int channel, int64 from, int64 to)
{
    float p = 0.0f;
    for (int64 i = from; i < to; ++i)
        p = std::max(p, std::fabs(loop.data()[2 * i + channel]));
    return p;
}

class LoopImportTest : public EngineTest
{
protected:
    // A WAV file written by sox, which Motifo did not write.
    std::string soxWav(const std::string& name, const std::string& format, const std::string& synth)
    {
        const std::string path = dir.file(name);
        const std::string command = "sox -q -n " + format + " '" + path + "' synth " + synth + " 2>&1";
        EXPECT_EQ(std::system(command.c_str()), 0) << command;
        return path;
    }
    std::shared_ptr<Loop> lastLoop() const
    {
        const std::vector<Idea*> ideas = engine.ideaCollection()->ideas();
        return ideas.empty() || ideas.back()->loops().empty() ? nullptr : ideas.back()->loops().back();
    }
    TempDir dir;
    LoopImport import { &engine };
};

// Every common encoding comes in at its own level and pitch, in both
// channels, a whole power of two of beats long at the song's tempo.
TEST_F(LoopImportTest, CommonFormatsBecomeLoopsInTime)
{
    struct Case {
        const char* name;
        const char* format;
        const char* note;
    };
    const Case cases[] = {
        { "16-bit stereo", "-r 44100 -c 2 -b 16", "" },
        { "8-bit", "-r 44100 -c 2 -b 8", "" },
        { "24-bit", "-r 44100 -c 2 -b 24", "" },
        { "32-bit", "-r 44100 -c 2 -b 32 -e signed-integer", "" },
        { "float", "-r 44100 -c 2 -b 32 -e floating-point", "" },
        { "double", "-r 44100 -c 2 -b 64 -e floating-point", "" },
        { "mono", "-r 44100 -c 1 -b 16", "converted from mono" },
        { "48 kHz", "-r 48000 -c 2 -b 16", "converted from 48000 Hz" },
        { "22 kHz mono 24-bit", "-r 22050 -c 1 -b 24", "converted from 22050 Hz mono" },
    };
    engine.setTempo(120.0f); // a beat is 22,050 frames
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // 3.1 beats of a 441 Hz tone at half scale: four beats hold it.
        const std::string path = soxWav(std::string(c.name) + ".wav", c.format, "1.55 sine 441 vol 0.5");
        engine.project()->setModified(false);
        std::string message;
        ASSERT_EQ(import.addToActiveIdea(path, message), 0) << message;
        const std::string expected = std::string(c.note) + (*c.note ? ", " : "") + "4 beats long with silence at the end";
        EXPECT_EQ(message, expected);
        std::shared_ptr<Loop> loop = lastLoop();
        ASSERT_TRUE(loop);
        EXPECT_EQ(loop->numBeats(), 4);
        EXPECT_EQ(loop->numFrames(), 4 * 22050);
        const int64 sound = int64(1.55 * ZUB_SAMPLE_RATE);
        EXPECT_NEAR(frequency(*loop, sound - 100), 441.0, 2.0);
        for (int channel : { 0, 1 })
            EXPECT_NEAR(peak(*loop, channel, 1000, sound - 1000), 0.5f, 0.02f) << channel;
        EXPECT_LT(peak(*loop, 0, sound + 200, loop->numFrames()), 1e-3f) << "silence after the sound";
        EXPECT_TRUE(engine.project()->isModified());
    }
    EXPECT_EQ(engine.ideaCollection()->ideas().size(), 1u) << "all went into the idea that was made first";
    EXPECT_EQ(engine.ideaCollection()->ideas()[0]->loops().size(), std::size(cases));
}

TEST_F(LoopImportTest, LengthsFitTheTempo)
{
    struct Case { float bpm; double seconds; int beats; };
    const Case cases[] = {
        { 120.0f, 2.0, 4 },   // exactly four beats: nothing added
        { 120.0f, 2.1, 4 },   // a short tail is cut
        { 120.0f, 2.3, 8 },   // more than a quarter beat over: the next power of two
        { 120.0f, 0.1, 2 },   // a short sound still makes a loop of two beats
        { 97.0f, 4.0, 8 },    // beats that are not whole frames
    };
    for (const Case& c : cases) {
        engine.clearProject(); // kept loops would hold the tempo
        ASSERT_EQ(engine.setTempo(c.bpm), 0);
        const std::string path = soxWav("len.wav", "-r 44100 -c 2 -b 16", std::to_string(c.seconds) + " sine 300");
        std::string message;
        ASSERT_EQ(import.addToActiveIdea(path, message), 0) << message;
        EXPECT_EQ(lastLoop()->numBeats(), c.beats) << c.seconds;
        EXPECT_EQ(lastLoop()->numFrames(), std::llround(c.beats * 60.0 * ZUB_SAMPLE_RATE / c.bpm)) << c.seconds;
    }
}

// What cannot be taken is refused with the reason, and the song stays as it was.
TEST_F(LoopImportTest, RefusalsSayWhyAndChangeNothing)
{
    const auto bytes = [&](const std::string& name, const std::string& content) {
        std::ofstream(dir.file(name), std::ios::binary) << content;
        return dir.file(name);
    };
    const auto le = [](uint32_t v, int n) { std::string s; for (int i = 0; i < n; ++i) s += char(v >> (8 * i)); return s; };
    const std::string adpcmHeader = "RIFF" + le(60, 4) + "WAVEfmt " + le(20, 4) + le(2, 2) + le(2, 2) + le(44100, 4)
        + le(44100, 4) + le(1024, 2) + le(4, 2) + le(2, 2) + le(0, 2) + "data" + le(16, 4) + std::string(16, '\1');
    struct Case { std::string path; std::string reason; };
    const std::vector<Case> cases = {
        { dir.file("missing.wav"), "it cannot be read (No such file or directory)" },
        { bytes("text.wav", "just some text, no sound"), "it is not a WAV file" },
        { bytes("adpcm.wav", adpcmHeader), "its sound is compressed; Motifo reads uncompressed (PCM or float) WAV files" },
        { soxWav("six.wav", "-r 44100 -c 6 -b 16", "0.2 sine 300"), "it has 6 channels; Motifo takes mono or stereo sound" },
        { soxWav("long.wav", "-r 8000 -c 1 -b 8", "181 sine 300"), "it lasts longer than 3 minutes" },
        { soxWav("slow.wav", "-r 4000 -c 1 -b 16", "0.2 sine 300"), "its sample rate of 4000 Hz is outside 8000 to 192000 Hz" },
        { bytes("empty.wav", "RIFF" + le(36, 4) + "WAVEfmt " + le(16, 4) + le(1, 2) + le(2, 2) + le(44100, 4)
              + le(44100 * 4, 4) + le(4, 2) + le(16, 2) + "data" + le(0, 4)),
            "it holds no sound" },
    };
    engine.project()->setModified(false);
    for (const Case& c : cases) {
        std::string message;
        EXPECT_EQ(import.addToActiveIdea(c.path, message), 1) << c.path;
        EXPECT_EQ(message, c.reason) << c.path;
    }
    EXPECT_TRUE(engine.ideaCollection()->ideas().empty());
    EXPECT_FALSE(engine.project()->isModified());
}

// A float file may hold values that are no numbers; they must not reach the mix.
TEST_F(LoopImportTest, NonFiniteSamplesBecomeSilence)
{
    const auto le = [](uint32_t v, int n) { std::string s; for (int i = 0; i < n; ++i) s += char(v >> (8 * i)); return s; };
    const float values[] = { 0.25f, NAN, INFINITY, -0.25f };
    std::string data(reinterpret_cast<const char*>(values), sizeof(values));
    const std::string wav = "RIFF" + le(36 + 16, 4) + "WAVEfmt " + le(16, 4) + le(3, 2) + le(2, 2) + le(44100, 4)
        + le(44100 * 8, 4) + le(8, 2) + le(32, 2) + "data" + le(16, 4) + data;
    std::ofstream(dir.file("nan.wav"), std::ios::binary) << wav;
    std::string message;
    ASSERT_EQ(import.addToActiveIdea(dir.file("nan.wav"), message), 0) << message;
    const float* d = lastLoop()->data();
    EXPECT_FLOAT_EQ(d[0], 0.25f);
    EXPECT_FLOAT_EQ(d[1], 0.0f);
    EXPECT_FLOAT_EQ(d[2], 0.0f);
    EXPECT_FLOAT_EQ(d[3], -0.25f);
}

} // namespace
