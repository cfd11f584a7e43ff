#include "loops/loop.h"
#include "loops/looprecorder.h"
#include "support/allocationcounter.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace {

constexpr int64 kBeat = 44100; // samples per beat at 120 bpm

Json::Value command(const char* key, const Json::Value& value)
{
    Json::Value root;
    root["loop_recorder"][key] = value;
    return root;
}

class LoopRecorderTest : public ::testing::Test
{
protected:
    // One block of constant input through record and process, as the engine does.
    std::vector<float> cycle(float input, int frames)
    {
        std::vector<float> buf(2 * frames, input);
        recorder.record(buf.data(), frames);
        recorder.process(buf.data(), frames);
        return buf;
    }
    LoopRecorder recorder;
};

TEST_F(LoopRecorderTest, FreshStateJson)
{
    Json::Value root;
    recorder.toJson(root);
    const Json::Value& s = root["loop_recorder"];
    EXPECT_EQ(s["length_seconds"].asDouble(), 8.0);
    EXPECT_EQ(s["num_beats"].asInt(), 16);
    EXPECT_FALSE(s["record"].asBool());
    EXPECT_EQ(s["frame_counter"].asUInt64(), 0u);
    EXPECT_EQ(s["play_pos_frame"].asInt64(), 0);
    EXPECT_EQ(recorder.lengthFrames(), 352800);
}

TEST_F(LoopRecorderTest, RecordedInputIsHeardOnceThroughThePlayback)
{
    recorder.setRecord(true);
    for (float v : cycle(0.25f, 64))
        ASSERT_FLOAT_EQ(v, 0.25f);
    // Not recording: the input and the playback of the first pass side by side.
    recorder.setRecord(false);
    recorder.setPlayPosFrames(0);
    const std::vector<float> out = cycle(0.5f, 128);
    EXPECT_FLOAT_EQ(out[0], 0.75f);
    EXPECT_FLOAT_EQ(out[2 * 64], 0.5f);
    // Overdub adds on top.
    recorder.setRecord(true);
    recorder.setPlayPosFrames(0);
    cycle(0.25f, 64);
    recorder.setPlayPosFrames(0);
    recorder.setRecord(false);
    EXPECT_FLOAT_EQ(cycle(0.0f, 1)[0], 0.5f);
    Json::Value root;
    recorder.toJson(root);
    EXPECT_EQ(root["loop_recorder"]["frame_counter"].asUInt64(), 64u + 128 + 64 + 1);
}

// Live input heard `late` frames after it was played goes that much earlier
// into the loop, stays in the cycle to be heard, and makes the take a keeper.
TEST_F(LoopRecorderTest, LateInputGoesEarlierAndIsKept)
{
    struct Case
    {
        int64 late;
        int64 landsAt; // frame of the loop where input recorded at frame 8000 lands
        float leftInCycle;
    };
    const Case cases[] = {
        { 0, 8000, 0.0f },       // on time: heard through the playback
        { 1000, 7000, 0.5f },
        { 10, 8000 - 64, 0.5f }, // under a cycle counts as one, never heard twice
        { 9000, 4 * kBeat - 1000, 0.5f }, // wraps to the loop's end
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.late);
        LoopRecorder r;
        r.setNumBeats(4);
        r.setRecord(true);
        r.setPlayPosFrames(8000);
        std::vector<float> buf(2 * 64, 0.5f);
        r.recordLate(buf.data(), 64, c.late);
        EXPECT_FLOAT_EQ(buf[0], c.leftInCycle);
        EXPECT_TRUE(r.holdsRecording());
        r.setRecord(false);
        r.setPlayPosFrames(c.landsAt - 1);
        std::vector<float> out(2 * 2, 0.0f);
        r.process(out.data(), 2);
        EXPECT_FLOAT_EQ(out[0], 0.0f);
        EXPECT_FLOAT_EQ(out[2], 0.5f);
    }
}

TEST_F(LoopRecorderTest, LengthRoundsToTheNearestPowerOfTwoOfBeats)
{
    struct Case { double beats; int expected; };
    const Case cases[] = { { 2.6, 4 }, { 5.0, 4 }, { 6.0, 8 }, { 11.0, 8 }, { 12.0, 16 }, { 22.0, 16 }, { 23.0, 32 },
                           { 1.0, 1 }, { 0.2, 1 } };
    for (const Case& c : cases) {
        ASSERT_EQ(recorder.setLengthSamples(int64(c.beats * kBeat) & ~1), 0) << c.beats;
        EXPECT_EQ(recorder.numBeats(), c.expected) << c.beats;
    }
}

TEST_F(LoopRecorderTest, OddLengthsAreCutToWholeFramesAndNonsenseIsRefused)
{
    ASSERT_EQ(recorder.setLengthSamples(1001), 0);
    EXPECT_EQ(recorder.lengthFrames(), 500);
    for (int64 bad : { int64(1), int64(0), int64(-4), int64(LoopRecorder::MAX_LENGTH_SAMPLES) + 2 })
        EXPECT_EQ(recorder.setLengthSamples(bad), 1) << bad;
    EXPECT_EQ(recorder.lengthFrames(), 500);
}

// N beats at T bpm are round(N x 60 x 44,100 / T) frames, whether the tempo
// or the beats change: 16 beats at 130 bpm are 325,661.5 frames, so 325,662.
TEST_F(LoopRecorderTest, LengthsAreExactlyTheBeatsAtTheTempo)
{
    struct Case { double bpm; int beats; int64 frames; };
    const Case cases[] = { { 130.0, 16, 325662 }, { 110.0, 16, 384873 }, { 110.0, 2, 48109 }, { 110.0, 64, 1539491 },
                           { 117.3, 8, 180460 }, { 90.0, 16, 470400 }, { 30.0, 64, 5644800 } };
    for (const Case& c : cases) {
        ASSERT_EQ(recorder.setTempo(c.bpm, true), 0);
        ASSERT_EQ(recorder.setNumBeats(c.beats), 0) << c.bpm << " " << c.beats;
        EXPECT_EQ(recorder.lengthFrames(), c.frames) << c.bpm << " bpm, beats changed to " << c.beats;
        ASSERT_EQ(recorder.setTempo(120.0, true), 0);
        ASSERT_EQ(recorder.setTempo(c.bpm, true), 0);
        EXPECT_EQ(recorder.lengthFrames(), c.frames) << c.bpm << " bpm, tempo changed at " << c.beats << " beats";
    }
}

TEST_F(LoopRecorderTest, BeatChangesByWholeFactors)
{
    struct Case { int beats; int rc; int64 lengthSamples; };
    const Case cases[] = {
        { 32, 0, 1411200 }, { 16, 0, 705600 }, { 4, 0, 176400 }, { 16, 0, 705600 },
        // Refused: below 2, or not a power of two (odd factors), and huge.
        { 1, 1, 705600 }, { 0, 1, 705600 }, { -16, 1, 705600 }, { 48, 1, 705600 }, { 24, 1, 705600 },
        { 3, 1, 705600 }, { 1 << 30, 1, 705600 },
    };
    for (const Case& c : cases) {
        EXPECT_EQ(recorder.setNumBeats(c.beats), c.rc) << c.beats;
        EXPECT_EQ(recorder.lengthFrames() * 2, c.lengthSamples) << c.beats;
    }
    EXPECT_EQ(recorder.numBeats(), 16);
}

TEST_F(LoopRecorderTest, SameBeatsKeepTheAudioOtherBeatsClearIt)
{
    recorder.setRecord(true);
    recorder.noteOn(60, 44);
    recorder.noteOff(60, 88);
    cycle(0.5f, 16);
    recorder.setPlayPosFrames(0);
    testing::internal::CaptureStdout();
    recorder.handleJson(command("beats", 16));
    recorder.setNumBeats(16);
    EXPECT_NE(testing::internal::GetCapturedStdout().find("LoopRecorder: number of beats is the same, returning"),
              std::string::npos);
    recorder.setRecord(false);
    EXPECT_FLOAT_EQ(cycle(0.0f, 1)[0], 0.5f);
    EXPECT_EQ(recorder.events().events().size(), 2u);

    recorder.handleJson(command("beats", 8));
    EXPECT_EQ(recorder.numBeats(), 8);
    recorder.setPlayPosFrames(0);
    EXPECT_FLOAT_EQ(cycle(0.0f, 1)[0], 0.0f);
    EXPECT_TRUE(recorder.events().events().empty());
}

TEST_F(LoopRecorderTest, TempoResizeAndPositionAfterALengthChange)
{
    recorder.setPlayPosFrames(300000);
    ASSERT_EQ(recorder.setTempo(100.0, true), 0);
    EXPECT_EQ(recorder.lengthFrames() * 2, 846720);
    EXPECT_EQ(recorder.numBeats(), 16);
    EXPECT_EQ(recorder.posSamples(), 600000u);
    ASSERT_EQ(recorder.setLengthSamples(200000), 0);
    EXPECT_EQ(recorder.posSamples(), 600000u % 200000);
    EXPECT_EQ(recorder.setTempo(0.0, true), 1);
    EXPECT_EQ(recorder.setTempo(120.0, false), 0);
    EXPECT_EQ(recorder.lengthFrames(), 100000);
    EXPECT_DOUBLE_EQ(recorder.tempo(), 120.0);
}

// A clear, or a tempo that keeps the length, drops what was recorded whether
// the buffer holds audio or only notes over silence (which keeps its buffer).
TEST_F(LoopRecorderTest, ClearAndSameLengthDropNotesAndAudio)
{
    struct Case {
        const char* name;
        std::function<void(LoopRecorder&)> drop;
    };
    const Case drops[] = {
        { "clear", [](LoopRecorder& r) { r.clear(); } },
        { "same tempo", [](LoopRecorder& r) { ASSERT_EQ(r.setTempo(120.0, true), 0); } },
        { "same length", [](LoopRecorder& r) { ASSERT_EQ(r.setLengthSamples(16 * kBeat), 0); } },
    };
    for (const Case& c : drops) {
        for (const float input : { 0.0f, 0.5f }) {
            SCOPED_TRACE(std::string(c.name) + (input != 0.0f ? ", audio" : ", notes over silence"));
            recorder.setRecord(true);
            recorder.noteOn(60, 44);
            recorder.noteOff(60, 88);
            recorder.setPlayPosFrames(0);
            cycle(input, 16);
            recorder.setRecord(false);
            ASSERT_TRUE(recorder.holdsRecording());
            c.drop(recorder);
            EXPECT_FALSE(recorder.holdsRecording());
            EXPECT_TRUE(recorder.events().events().empty());
            EXPECT_EQ(recorder.lengthFrames() * 2, 16 * kBeat);
            recorder.setPlayPosFrames(0);
            EXPECT_FLOAT_EQ(cycle(0.0f, 1)[0], 0.0f);
        }
    }
}

TEST_F(LoopRecorderTest, SuspendedRecorderNeitherPlaysNorRecords)
{
    recorder.setRecord(true);
    cycle(0.5f, 8);
    recorder.handleJson(command("suspend", true));
    EXPECT_FALSE(recorder.isRecording());
    recorder.setPlayPosFrames(0);
    const std::vector<float> out = cycle(0.125f, 8);
    EXPECT_FLOAT_EQ(out[0], 0.125f); // live input only
    EXPECT_EQ(recorder.posSamples(), 16u); // the position still moves
    recorder.handleJson(command("initialize", true));
    recorder.setPlayPosFrames(0);
    EXPECT_FLOAT_EQ(cycle(0.0f, 1)[0], 0.5f);
}

TEST_F(LoopRecorderTest, JsonCommands)
{
    recorder.handleJson(command("record", true));
    EXPECT_TRUE(recorder.isRecording());
    cycle(1.0f, 4);
    recorder.handleJson(command("clear", false));
    recorder.setPlayPosFrames(0);
    recorder.handleJson(command("record", "yes")); // wrong type: ignored
    EXPECT_TRUE(recorder.isRecording());
    recorder.handleJson(command("record", false));
    EXPECT_FLOAT_EQ(cycle(0.0f, 1)[0], 1.0f);
    recorder.handleJson(command("clear", true));
    recorder.setPlayPosFrames(0);
    EXPECT_FLOAT_EQ(cycle(0.0f, 1)[0], 0.0f);
    for (const char* bad : { "beats" }) {
        recorder.handleJson(command(bad, "sixteen"));
        recorder.handleJson(command(bad, Json::Value(Json::arrayValue)));
        recorder.handleJson(command(bad, 1e300));
    }
    EXPECT_EQ(recorder.numBeats(), 16);
}

TEST_F(LoopRecorderTest, MoveIntoGivesTheLoopAudioNotesBeatsAndPhase)
{
    recorder.setNumBeats(4);
    recorder.setRecord(true);
    recorder.noteOn(64, 22);
    recorder.noteOff(64, 40);
    // Frame f of the recorder holds f.
    std::vector<float> ramp(2 * 88200);
    for (int f = 0; f < 88200; ++f)
        ramp[2 * f] = ramp[2 * f + 1] = float(f);
    recorder.setPlayPosFrames(0);
    recorder.record(ramp.data(), 88200);
    recorder.setPlayPosFrames(1234);
    Loop loop;
    recorder.moveInto(loop);
    EXPECT_EQ(loop.numFrames(), 88200);
    EXPECT_EQ(loop.numBeats(), 4);
    EXPECT_EQ(loop.playPosOffset(), 2 * 1234);
    EXPECT_EQ(loop.notes().events().size(), 2u);
    std::vector<float> out(2);
    loop.process(out.data(), 1);
    EXPECT_FLOAT_EQ(out[0], 1234.0f);
    // The recorder is empty afterwards.
    EXPECT_TRUE(recorder.events().events().empty());
    recorder.setRecord(false);
    recorder.setPlayPosFrames(1234);
    EXPECT_FLOAT_EQ(cycle(0.0f, 1)[0], 0.0f);
}

TEST_F(LoopRecorderTest, AudioPathAllocatesNothing)
{
    recorder.setRecord(true);
    std::vector<float> buf(2 * 4096, 0.1f);
    AllocationCounter counter;
    for (uint32_t i = 0; i < 200; ++i) {
        recorder.record(buf.data(), 4096);
        recorder.process(buf.data(), 4096);
        recorder.setPlayPosFrames(i * 4096);
    }
    EXPECT_EQ(counter.count(), 0u);
}

} // namespace
