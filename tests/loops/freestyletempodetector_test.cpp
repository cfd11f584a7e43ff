#include "core/midimessage.h"
#include "loops/freestyletempodetector.h"
#include "loops/loop.h"
#include "support/instrumentlibrary.h"
#include "support/pushedstates.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <tuple>
#include <vector>

namespace {

// A different value in every frame, opposite on the right.
float sampleAt(int64 frame)
{
    return float(frame % 7919 + 1) / 8000.0f;
}

std::vector<float> takeAudio(int64 frames)
{
    std::vector<float> audio(2 * frames);
    for (int64 k = 0; k < frames; ++k) {
        audio[2 * k] = sampleAt(k);
        audio[2 * k + 1] = -sampleAt(k);
    }
    return audio;
}

Json::Value taps(double bpm, double ms)
{
    Json::Value root;
    root["freestyle_tempo_detector"]["bpm"] = bpm;
    root["freestyle_tempo_detector"]["first_to_last_tap_time"] = ms;
    return root;
}

Json::Value command(const char* key)
{
    Json::Value root;
    root["freestyle_tempo_detector"][key] = true;
    return root;
}

class FreestyleTempoDetectorTest : public ::testing::Test
{
protected:
    void SetUp() override { detector.setJsBridge(&bridge); }
    void handTake(int64 frames)
    {
        const std::vector<float> audio = takeAudio(frames);
        take->copyFrom(audio.data(), uint32_t(frames), 0);
        detector.setLoop(take);
    }
    std::vector<float> play(int frames)
    {
        std::vector<float> out(2 * frames, 0.0f);
        detector.process(out.data(), frames);
        return out;
    }

    RecordingBridge bridge;
    FreestyleTempoDetector detector;
    std::shared_ptr<Loop> take = std::make_shared<Loop>();
};

TEST(FreestyleTempoDetectorSnap, NearestPowerOfTwoOfBeatsTiesGoShorter)
{
    struct Case { double bpm, seconds; int beats; };
    const Case cases[] = {
        { 120, 3.9, 8 },   // the taps 3.4 s apart plus a beat
        { 120, 3.0, 4 },   // halfway between 2 s and 4 s
        { 60, 3.0, 2 },    // halfway between 2 s and 4 s
        { 120, 40.0, 64 }, // never longer than 64 beats
        { 120, 0.1, 1 },
        { 100, 4.0, 8 },   // 4.8 s is nearer than 2.4 s
        { 200, 1000.0, 64 },
    };
    for (const Case& c : cases)
        EXPECT_EQ(FreestyleTempoDetector::snapBeats(c.bpm, c.seconds), c.beats) << c.bpm << " " << c.seconds;
}

// 120 bpm, taps 3.4 s apart: 8 beats of 176,400 frames; a 4.5 s take adds
// its last 22,050 frames onto its first.
TEST_F(FreestyleTempoDetectorTest, TapsSnapTheTakeAndFoldItsTailOntoTheStart)
{
    handTake(198450);
    testing::internal::CaptureStdout();
    detector.handleJson(taps(120, 3400));
    EXPECT_NE(testing::internal::GetCapturedStdout().find("snapping to 8 beats."), std::string::npos);
    ASSERT_EQ(take->numFrames(), 176400);
    EXPECT_EQ(take->numBeats(), 8);
    EXPECT_FLOAT_EQ(detector.tempo(), 120.0f);
    const float* a = take->data();
    for (int64 k = 0; k < 176400; ++k) {
        const float expected = k < 22050 ? sampleAt(k) + sampleAt(k + 176400) : sampleAt(k);
        ASSERT_FLOAT_EQ(a[2 * k], expected) << k;
        ASSERT_FLOAT_EQ(a[2 * k + 1], -expected) << k;
    }
}

// The snapped take is exactly its beats at the tapped tempo: 16 beats at
// 110 bpm are 384,872.7 frames, so 384,873 (truncating would leave the take
// a frame short of the grid the transport takes over).
TEST_F(FreestyleTempoDetectorTest, TheSnappedTakeIsExactlyItsBeatsAtTheTappedTempo)
{
    handTake(400000);
    detector.handleJson(taps(110, 8180));
    EXPECT_EQ(take->numBeats(), 16);
    EXPECT_EQ(take->numFrames(), 384873);
}

// The take's buffer still holds a longer, older take past its end: growing
// must add silence, not that.
TEST_F(FreestyleTempoDetectorTest, ShortTakeGrowsWithSilence)
{
    const std::vector<float> older(2 * 132300, 1.0f), newer(2 * 44100, 0.5f);
    take->copyFrom(older.data(), 132300, 0);
    take->copyFrom(newer.data(), 44100, 0);
    detector.setLoop(take);
    detector.handleJson(taps(120, 1500)); // 2 s: 4 beats
    ASSERT_EQ(take->numFrames(), 88200);
    EXPECT_EQ(take->numBeats(), 4);
    for (int64 k = 0; k < 88200; ++k)
        ASSERT_EQ(take->data()[2 * k], k < 44100 ? 0.5f : 0.0f) << k;
}

TEST_F(FreestyleTempoDetectorTest, NotesMoveWithTheFoldAndHeldNotesSplit)
{
    constexpr int64 s = 1000000;
    constexpr int64 end = 4 * s; // 176,400 frames
    TimedMidiEventList notes;
    auto note = [&](int n, int64 on, int64 off) {
        notes.addEvent(on, MidiMessage::noteOn(64, n, 0));
        notes.addEvent(off, MidiMessage::noteOff(70, n, 0));
    };
    note(60, s, 3 * s / 2);        // stays
    note(62, 7 * s / 2, 17 * s / 4); // held across the new end
    note(64, 41 * s / 10, 43 * s / 10); // wholly past the end
    note(65, 79 * s / 10, 81 * s / 10); // across the second pass's end
    handTake(396900);
    take->setNotes(notes);
    detector.handleJson(taps(120, 3400));

    using Note = std::tuple<int64, int, int64>;
    std::set<Note> got;
    for (const Json::Value& n : take->notes().toJson())
        got.insert({ n["time"].asInt64(), n["note"].asInt(), n["length"].asInt64() });
    const std::set<Note> expected = {
        { 0, 62, s / 4 }, { 0, 65, s / 10 }, { s / 10, 64, s / 5 }, { s, 60, s / 2 },
        { 7 * s / 2, 62, end - 1 - 7 * s / 2 }, { 39 * s / 10, 65, end - 1 - 39 * s / 10 },
    };
    EXPECT_EQ(got, expected);
    // The restarted notes take the velocity of the note off they split.
    EXPECT_EQ(take->notes().events().front().second, MidiMessage::noteOn(70, 62, 0));
}

TEST_F(FreestyleTempoDetectorTest, InitializeAndCancelRestoreTheTakeAsRecorded)
{
    handTake(198450);
    TimedMidiEventList notes;
    notes.addEvent(4200000, MidiMessage::noteOn(64, 60, 0));
    notes.addEvent(4400000, MidiMessage::noteOff(64, 60, 0));
    take->setNotes(notes);
    detector.setLoop(take);
    take->setMute(true, true);
    detector.handleJson(taps(120, 3400));
    ASSERT_EQ(take->numFrames(), 176400);

    detector.handleJson(command("initialize"));
    EXPECT_EQ(take->numFrames(), 198450);
    EXPECT_FLOAT_EQ(take->data()[0], sampleAt(0));
    EXPECT_EQ(take->notes().events(), notes.events());
    EXPECT_FALSE(take->isMuted());
    EXPECT_FALSE(take->isPlaying());
    EXPECT_FALSE(detector.isActive());
    const std::vector<Json::Value> pushed = pushedStates(bridge.messages(), "freestyle_tempo_detector");
    ASSERT_EQ(pushed.size(), 1u);
    ASSERT_EQ(pushed[0]["loops"].size(), 1u);
    EXPECT_EQ(pushed[0]["loops"][0]["id"].asInt(), take->id());
    EXPECT_DOUBLE_EQ(pushed[0]["loops"][0]["length_seconds"].asDouble(), 4.5);

    // A second attempt starts again from the take, not from the first snap.
    detector.handleJson(taps(120, 1500));
    EXPECT_EQ(take->numFrames(), 88200);
    EXPECT_FLOAT_EQ(take->data()[0], sampleAt(0) + sampleAt(88200) + sampleAt(176400));

    detector.handleJson(command("play_loop"));
    detector.handleJson(command("suspend_and_restore_loop_state"));
    EXPECT_EQ(take->numFrames(), 198450);
    EXPECT_FLOAT_EQ(take->data()[0], sampleAt(0));
    EXPECT_TRUE(take->isPlaying());
    EXPECT_FALSE(detector.isActive());
}

TEST_F(FreestyleTempoDetectorTest, AuditionOnceOrInALoopFromTheStart)
{
    handTake(1000);
    detector.handleJson(command("initialize"));
    play(300); // not active yet: nothing
    EXPECT_EQ(detector.playPosFrames(), 0);

    detector.handleJson(command("play_loop_once"));
    EXPECT_TRUE(detector.isActive());
    std::vector<float> out = play(600);
    out.resize(2 * 1200);
    std::vector<float> rest = play(600);
    std::copy(rest.begin(), rest.end(), out.begin() + 1200);
    for (int64 k = 0; k < 1200; ++k)
        ASSERT_FLOAT_EQ(out[2 * k], k < 1000 ? sampleAt(k) : 0.0f) << k;
    EXPECT_FALSE(take->isPlaying());
    EXPECT_FALSE(detector.isActive()) << "the pass is over";

    detector.handleJson(command("play_loop"));
    play(900);
    EXPECT_EQ(detector.playPosFrames(), 900);
    out = play(300);
    for (int64 k = 0; k < 300; ++k)
        ASSERT_FLOAT_EQ(out[2 * k], sampleAt((900 + k) % 1000)) << k;
    detector.handleJson(command("suspend"));
    EXPECT_FALSE(detector.isActive());
    for (float v : play(64))
        ASSERT_EQ(v, 0.0f);
}

TEST_F(FreestyleTempoDetectorTest, CommandsBeforeAnyTakeAreIgnoredWithALogLine)
{
    for (const char* key : { "initialize", "play_loop_once", "play_loop", "suspend_and_restore_loop_state" }) {
        testing::internal::CaptureStdout();
        detector.handleJson(command(key));
        EXPECT_NE(testing::internal::GetCapturedStdout().find("no take handed over yet"), std::string::npos) << key;
        EXPECT_FALSE(detector.isActive()) << key;
    }
    testing::internal::CaptureStdout();
    detector.handleJson(taps(100, 2000));
    EXPECT_NE(testing::internal::GetCapturedStdout().find("no take handed over yet"), std::string::npos);
    EXPECT_FLOAT_EQ(detector.tempo(), 120.0f);
    EXPECT_TRUE(bridge.messages().empty());
    Json::Value root;
    detector.toJson(root);
    EXPECT_EQ(root["freestyle_tempo_detector"]["loops"], Json::Value(Json::arrayValue));
}

TEST_F(FreestyleTempoDetectorTest, OutOfRangeTapsChangeNothing)
{
    handTake(44100);
    Json::Value bpmOnly;
    bpmOnly["freestyle_tempo_detector"]["bpm"] = 90;
    const Json::Value requests[] = {
        bpmOnly, taps(29, 2000), taps(201, 2000), taps(0, 2000), taps(120, -600), taps(120, 1e300),
    };
    for (const Json::Value& r : requests) {
        detector.handleJson(r);
        EXPECT_EQ(take->numFrames(), 44100) << r.toStyledString();
        EXPECT_FLOAT_EQ(detector.tempo(), 120.0f) << r.toStyledString();
    }
    Json::Value text = taps(120, 2000);
    text["freestyle_tempo_detector"]["bpm"] = "fast";
    detector.handleJson(text);
    EXPECT_EQ(take->numFrames(), 44100);
}

} // namespace
