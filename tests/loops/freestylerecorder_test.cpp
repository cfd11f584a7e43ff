#include "core/recordingbuffer.h"
#include "loops/freestylerecorder.h"
#include "loops/freestyletempodetector.h"
#include "loops/loop.h"
#include "loops/looppool.h"
#include "support/allocationcounter.h"
#include "support/instrumentlibrary.h"
#include "support/pushedstates.h"
#include "support/setclock.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

namespace {

using Signal = std::function<float(int64)>;

float tone(int64 t)
{
    return 0.5f * float(std::sin(2.0 * M_PI * 440.0 * double(t) / 44100.0));
}

Signal dc(float value)
{
    return [value](int64) { return value; };
}

const Signal kSilence = dc(0.0f);

Json::Value command(const char* key, const Json::Value& value)
{
    Json::Value root;
    root["freestyle_recorder"][key] = value;
    return root;
}

class FreestyleRecorderTest : public ::testing::Test
{
protected:
    void SetUp() override { recorder.setJsBridge(&bridge); }

    // One engine cycle: the instrument's block goes through record, then
    // process adds the takes. The clock moves with the audio.
    std::vector<float> cycle(std::vector<float> block)
    {
        const int n = int(block.size() / 2);
        recorder.record(block.data(), n);
        recorder.process(block.data(), n);
        clock.m_now = int64(double(m_frames += n) * ZUB_MICROSECONDS_PER_FRAME);
        return block;
    }
    std::vector<float> block(const Signal& s, int n)
    {
        std::vector<float> b(2 * n);
        for (int i = 0; i < n; ++i)
            b[2 * i] = b[2 * i + 1] = s(m_frames + i);
        return b;
    }
    void feed(const Signal& s, int64 frames, int n = 441)
    {
        for (int64 done = 0; done < frames; done += n)
            cycle(block(s, n));
    }
    // Blocks of the signal until the recorder is idle again; returns the frames fed.
    int64 feedUntilIdle(const Signal& s, int n = 441)
    {
        int64 fed = 0;
        while (recorder.state() != FreestyleRecorder::STATE_IDLE && fed < 4 * FreestyleRecorder::BUFFER_FRAMES) {
            cycle(block(s, n));
            fed += n;
        }
        return fed;
    }
    // A take of the signal played from a key press, ended by silence.
    void keyTake(const Signal& s, int64 frames)
    {
        recorder.noteOn(60, m_frames);
        feed(s, frames);
        recorder.noteOff(60, m_frames);
        feedUntilIdle(kSilence);
        // Played, the next take comes a second of silence later, long after
        // the copier freed this one's buffer; fed blocks outrun it, so wait.
        recorder.takes();
    }
    std::vector<std::string> pushedStatuses()
    {
        recorder.flushStatePushes();
        std::vector<std::string> statuses;
        for (const Json::Value& state : pushedStates(bridge.messages(), "freestyle_recorder"))
            statuses.push_back(state["status"].asString());
        return statuses;
    }
    Json::Value state() const
    {
        Json::Value root;
        recorder.toJson(root);
        return root["freestyle_recorder"];
    }

    SetClock clock;
    RecordingBridge bridge; // outlives the recorder's pushes
    LoopPool pool;
    FreestyleTempoDetector detector;
    FreestyleRecorder recorder { &pool, &detector };
    int64 m_frames = 0;
};

TEST_F(FreestyleRecorderTest, StartsSuspendedWithNoTakes)
{
    EXPECT_EQ(recorder.state(), FreestyleRecorder::STATE_SUSPENDED);
    EXPECT_EQ(state()["status"].asString(), "Suspended");
    EXPECT_EQ(state()["loops"], Json::Value(Json::arrayValue));
    EXPECT_EQ(pool.size(), 5u);
    // Suspended, a key starts nothing.
    recorder.noteOn(60, m_frames);
    feed(dc(0.5f), 4410);
    EXPECT_EQ(recorder.state(), FreestyleRecorder::STATE_SUSPENDED);
    EXPECT_TRUE(recorder.takes()[0]->isEmpty());
}

TEST_F(FreestyleRecorderTest, KeyTakeKeepsTheSilenceThatEndedIt)
{
    recorder.handleJson(command("initialize", true));
    EXPECT_EQ(recorder.status(), "Idle");
    recorder.noteOn(60, m_frames);
    EXPECT_EQ(recorder.status(), "Recording");
    feed(tone, 44100);
    recorder.noteOff(60, m_frames);
    feed(tone, 132300 - 44100);
    const int64 silence = feedUntilIdle(kSilence);
    EXPECT_EQ(silence, 101 * 441); // the first block count beyond one second

    const std::shared_ptr<Loop> take = recorder.takes()[0];
    ASSERT_EQ(take->numFrames(), 132300 + 101 * 441);
    for (int64 k : { 0, 1, 1000, 132299 })
        ASSERT_FLOAT_EQ(take->data()[2 * k], tone(k)) << k;
    for (int64 k = 132300; k < take->numFrames(); ++k)
        ASSERT_EQ(take->data()[2 * k + 1], 0.0f) << k;
    const auto events = take->notes().events();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].first, 0);
    EXPECT_NEAR(double(events[1].first), 1000000.0, 1000.0);
    EXPECT_TRUE(take->isMuted());

    const Json::Value s = state();
    EXPECT_EQ(s["status"].asString(), "Idle");
    ASSERT_EQ(s["loops"].size(), 1u);
    EXPECT_EQ(s["loops"][0]["id"].asInt(), take->id());
    EXPECT_NEAR(s["loops"][0]["length_seconds"].asDouble(), 4.0, 0.02);
    EXPECT_EQ(pushedStatuses(), (std::vector<std::string> { "Idle", "Recording", "Idle" }));
    // The pushed state is the state the page asks for.
    EXPECT_EQ(pushedStates(bridge.messages(), "freestyle_recorder").back(), s);
}

// The key that started a take is still down when silence ends it: its note
// ends with the take, and letting go of it later records nothing.
TEST_F(FreestyleRecorderTest, AKeyStillDownWhenTheTakeEndsIsLetGoAtItsEnd)
{
    recorder.handleJson(command("initialize", true));
    recorder.noteOn(60, m_frames);
    feed(tone, 44100);
    feedUntilIdle(kSilence);
    recorder.noteOff(60, m_frames);
    keyTake(dc(0.25f), 4410);

    const auto takes = recorder.takes();
    const Json::Value held = takes[1]->notes().toJson();
    ASSERT_EQ(held.size(), 1u);
    EXPECT_EQ(held[0]["time"].asInt64(), 0);
    EXPECT_EQ(held[0]["length"].asInt64(), framesToMicroseconds(takes[1]->numFrames()) - 1);
    const Json::Value next = takes[0]->notes().toJson();
    ASSERT_EQ(next.size(), 1u);
    EXPECT_EQ(next[0]["time"].asInt64(), 0);
    EXPECT_EQ(takes[0]->notes().events().size(), 2u);
}

TEST_F(FreestyleRecorderTest, SixthTakeOverwritesTheOldestAndFourAreListed)
{
    recorder.handleJson(command("initialize", true));
    std::vector<int> ids;
    for (int i = 1; i <= 6; ++i) {
        keyTake(dc(0.1f * float(i)), 4410);
        ids.push_back(recorder.takes()[0]->id());
        EXPECT_EQ(state()["loops"].size(), std::size_t(std::min(i, 4))) << i;
    }
    // The loop of the first take carries the sixth.
    EXPECT_EQ(ids[5], ids[0]);
    const Json::Value loops = state()["loops"];
    const auto takes = recorder.takes();
    for (Json::ArrayIndex i = 0; i < 4; ++i) {
        EXPECT_EQ(loops[i]["id"].asInt(), ids[5 - i]);
        EXPECT_FLOAT_EQ(takes[i]->data()[0], 0.1f * float(6 - i));
    }
    EXPECT_EQ(pool.size(), 5u);
}

TEST_F(FreestyleRecorderTest, PlayingLoopIdMakesExactlyThatTakeAudible)
{
    recorder.handleJson(command("initialize", true));
    for (float v : { 0.1f, 0.2f, 0.4f })
        keyTake(dc(v), 44100);
    const auto takes = recorder.takes(); // 0.4, 0.2, 0.1
    recorder.handleJson(command("playing_loop_id", takes[2]->id()));
    // The others were rewound to 0 and muted; now solo the 0.2 take.
    recorder.handleJson(command("playing_loop_id", takes[1]->id()));
    for (float v : cycle(block(kSilence, 64)))
        ASSERT_FLOAT_EQ(v, 0.2f);
    EXPECT_TRUE(takes[0]->isMuted());
    EXPECT_TRUE(takes[2]->isMuted());

    // A "loops" entry unmutes with a fade, from the take's start.
    Json::Value entry;
    entry["id"] = takes[0]->id();
    entry["mute"] = false;
    Json::Value entries(Json::arrayValue);
    entries.append(entry);
    recorder.handleJson(command("loops", entries));
    EXPECT_EQ(takes[0]->playPosOffset(), 0);
    feed(kSilence, 4410); // past the fade
    for (float v : cycle(block(kSilence, 64)))
        ASSERT_FLOAT_EQ(v, 0.6f);

    // An unknown id mutes every take and is logged.
    testing::internal::CaptureStdout();
    recorder.handleJson(command("playing_loop_id", 99999));
    EXPECT_NE(testing::internal::GetCapturedStdout().find("no take with id 99999"), std::string::npos);
    for (float v : cycle(block(kSilence, 64)))
        ASSERT_EQ(v, 0.0f);
}

// Live input reaches the recorder the way the instrument hands it on: written
// by the input side into the recording buffer, mixed into the cycle's block.
TEST_F(FreestyleRecorderTest, LiveInputSettlesForASecondThenTriggers)
{
    RecordingBuffer input(clock);
    auto live = [&](const Signal& s, int64 frames) {
        for (int64 done = 0; done < frames; done += 441) {
            const std::vector<float> in = block(s, 441);
            input.write(in.data(), 441);
            std::vector<float> b(2 * 441, 0.0f);
            input.mixInto(b.data(), 441);
            cycle(b);
            ASSERT_NE(recorder.state(), FreestyleRecorder::STATE_SUSPENDED);
        }
    };
    recorder.setInputMode(FreestyleRecorder::INPUT_AUDIO);
    recorder.handleJson(command("initialize", true));
    EXPECT_EQ(recorder.status(), "Waiting");

    // However loud, nothing starts while the input settles; keys are ignored.
    recorder.noteOn(60, m_frames);
    for (int i = 0; i < 99; ++i) {
        live([](int64 t) { return 2.0f * tone(t) + ((t * 7919) % 13 == 0 ? 1.0f : 0.0f); }, 441);
        ASSERT_EQ(recorder.state(), FreestyleRecorder::STATE_IDLE) << i;
    }
    EXPECT_EQ(recorder.status(), "Waiting");
    live(kSilence, 2 * 44100);
    EXPECT_EQ(recorder.state(), FreestyleRecorder::STATE_IDLE);
    EXPECT_EQ(recorder.status(), "Idle");

    // Settled on silence: the first sound starts a take, from that block.
    const int64 start = m_frames;
    live(tone, 22050);
    EXPECT_EQ(recorder.state(), FreestyleRecorder::STATE_RECORDING);
    live(kSilence, 44100);
    feedUntilIdle(kSilence);
    const std::shared_ptr<Loop> take = recorder.takes()[0];
    ASSERT_GT(take->numFrames(), 22050 + 44100);
    EXPECT_LT(take->numFrames(), 22050 + 44100 + 44100 / 4);
    for (int64 k : { 1, 100, 22049 })
        ASSERT_FLOAT_EQ(take->data()[2 * k], tone(start + k)) << k;
    EXPECT_EQ(recorder.status(), "Waiting");
    EXPECT_EQ(pushedStatuses(), (std::vector<std::string> { "Waiting", "Idle", "Recording", "Waiting" }));

    // Back to keys while idle: ready at once.
    recorder.setInputMode(FreestyleRecorder::INPUT_KEYS);
    EXPECT_EQ(recorder.status(), "Idle");
    recorder.noteOn(61, m_frames);
    EXPECT_EQ(recorder.state(), FreestyleRecorder::STATE_RECORDING);
}

// Live input arrives a round trip after the musician played it to what they
// heard; the take holds the two together, also what was heard before it began.
TEST_F(FreestyleRecorderTest, LateLiveInputMeetsWhatWasHeardWhenItWasPlayed)
{
    constexpr int64 kLate = 3000;
    recorder.handleJson(command("initialize", true));
    feed(kSilence, 44100);
    const int64 start = m_frames + 4410;
    // Heard: clicks half the lateness before the take and 5000 frames into
    // it. Played to the first: a click heard by the recorder kLate later.
    const int64 heardClicks[] = { start - kLate / 2, start + 5000 };
    const int64 liveClick = heardClicks[0] + kLate;
    for (int64 done = 0; done < 13230; done += 441) {
        if (m_frames == start)
            recorder.noteOn(60, start);
        std::vector<float> live(2 * 441, 0.0f), in(2 * 441, 0.0f);
        for (int i = 0; i < 441; ++i) {
            const int64 t = m_frames + i;
            live[2 * i] = live[2 * i + 1] = t == liveClick ? 0.5f : 0.0f;
            const float heard = t == heardClicks[0] || t == heardClicks[1] ? 0.25f : 0.0f;
            in[2 * i] = in[2 * i + 1] = live[2 * i] + heard;
        }
        recorder.recordLate(in.data(), live.data(), 441, kLate);
        recorder.process(in.data(), 441);
        m_frames += 441;
    }
    recorder.noteOff(60, m_frames);
    feedUntilIdle(kSilence);
    const std::shared_ptr<Loop> take = recorder.takes()[0];
    std::vector<int64> sounding;
    for (int64 k = 0; k < take->numFrames(); ++k)
        if (take->data()[2 * k] != 0.0f)
            sounding.push_back(k);
    ASSERT_EQ(sounding, (std::vector<int64> { liveClick - start, heardClicks[1] + kLate - start }));
    EXPECT_FLOAT_EQ(take->data()[2 * sounding[0]], 0.75f);
    EXPECT_FLOAT_EQ(take->data()[2 * sounding[1]], 0.25f);
}

TEST_F(FreestyleRecorderTest, TakeLongerThanTheBufferEndsAtItsLength)
{
    recorder.handleJson(command("initialize", true));
    const Signal ramp = [](int64 t) { return float(t % 1000 + 1) / 2000.0f; };
    recorder.noteOn(60, m_frames);
    feedUntilIdle(ramp, 4096);
    const std::shared_ptr<Loop> take = recorder.takes()[0];
    ASSERT_EQ(take->numFrames(), FreestyleRecorder::BUFFER_FRAMES);
    // Nothing wrapped over the start.
    for (int64 k : { int64(0), int64(1), int64(4095), FreestyleRecorder::BUFFER_FRAMES - 1 })
        ASSERT_FLOAT_EQ(take->data()[2 * k], ramp(k)) << k;
    // The next take starts on a clean buffer.
    keyTake(dc(0.125f), 4410);
    EXPECT_FLOAT_EQ(recorder.takes()[0]->data()[0], 0.125f);
    EXPECT_FLOAT_EQ(recorder.takes()[0]->data()[2 * 4000], 0.125f);
}

TEST_F(FreestyleRecorderTest, FinishingATakeCopiesWithoutAllocating)
{
    recorder.handleJson(command("initialize", true));
    recorder.noteOn(60, m_frames);
    cycle(block(dc(0.3f), 441));
    // More notes than a take holds: the rest is refused on the key thread.
    testing::internal::CaptureStdout();
    for (int i = 0; i < 5000; ++i) {
        recorder.noteOn(40 + i % 40, m_frames);
        recorder.noteOff(40 + i % 40, m_frames);
    }
    EXPECT_NE(testing::internal::GetCapturedStdout().find("not recorded"), std::string::npos);
    const std::vector<float> sound = block(dc(0.3f), 441), silence = block(kSilence, 441);
    std::vector<float> b = sound;
    {
        AllocationCounter counter;
        for (int i = 0; i < 200; ++i) {
            b = sound;
            recorder.record(b.data(), 441);
            recorder.process(b.data(), 441);
        }
        while (recorder.state() == FreestyleRecorder::STATE_RECORDING) {
            b = silence;
            recorder.record(b.data(), 441);
            recorder.process(b.data(), 441);
        }
        EXPECT_EQ(counter.count(), 0u);
    }
    const std::shared_ptr<Loop> take = recorder.takes()[0];
    EXPECT_EQ(take->numFrames(), 302 * 441);
    EXPECT_EQ(take->notes().events().size(), FreestyleRecorder::MAX_TAKE_EVENTS);
    EXPECT_FALSE(take->waveform().empty());
}

// Ending a take hands its buffer to the copier and records on into the
// other one: with the copier paused, the cycles that end a 60 s take and a
// second take return, allocate nothing and leave the take loops untouched,
// so the audio thread copied nothing. A third take waits for a free buffer.
TEST_F(FreestyleRecorderTest, EndingATakeLeavesTheCopyToTheCopier)
{
    recorder.handleJson(command("initialize", true));
    const auto ring = recorder.takes();
    const Signal ramp = [](int64 t) { return float(t % 1000 + 1) / 2000.0f; };
    recorder.pauseTakeCopies(true);
    const int64 takeFrames = 646 * 4096; // just over 60 s
    recorder.noteOn(60, m_frames);
    feed(ramp, takeFrames, 4096);
    recorder.noteOff(60, m_frames);
    const std::vector<float> silence = block(kSilence, 4096), sound = block(dc(0.25f), 4096);
    std::vector<float> b = silence;
    auto untilIdle = [&] {
        while (recorder.state() != FreestyleRecorder::STATE_IDLE) {
            std::copy(silence.begin(), silence.end(), b.begin());
            recorder.record(b.data(), 4096);
            recorder.process(b.data(), 4096);
        }
    };
    {
        AllocationCounter counter;
        untilIdle();
        recorder.noteOn(61, m_frames);
        std::copy(sound.begin(), sound.end(), b.begin());
        recorder.record(b.data(), 4096);
        recorder.process(b.data(), 4096);
        untilIdle();
        EXPECT_EQ(counter.count(), 0u);
    }
    for (const auto& take : ring) {
        EXPECT_TRUE(take->isEmpty());
        EXPECT_EQ(take->numFrames(), 0);
    }
    testing::internal::CaptureStdout();
    recorder.noteOn(62, m_frames);
    EXPECT_NE(testing::internal::GetCapturedStdout().find("no take buffer is free, note 62 not recorded"),
        std::string::npos);
    EXPECT_EQ(recorder.state(), FreestyleRecorder::STATE_IDLE);

    recorder.pauseTakeCopies(false);
    const auto takes = recorder.takes();
    EXPECT_EQ(takes[0], ring[3]);
    EXPECT_EQ(takes[1], ring[4]);
    EXPECT_FLOAT_EQ(takes[0]->data()[0], 0.25f);
    ASSERT_EQ(takes[1]->numFrames(), takeFrames + 11 * 4096);
    for (int64 k : { int64(0), int64(999), takeFrames - 1 })
        ASSERT_FLOAT_EQ(takes[1]->data()[2 * k], ramp(k)) << k;
    EXPECT_EQ(state()["loops"].size(), 2u);
    // Both buffers came back zeroed: a take starts again, on silence.
    keyTake(dc(0.125f), 4410);
    EXPECT_FLOAT_EQ(recorder.takes()[0]->data()[2 * 4409], 0.125f);
    EXPECT_FLOAT_EQ(recorder.takes()[0]->data()[2 * 4410], 0.0f);
}

TEST_F(FreestyleRecorderTest, DoTempoDetectionHandsOverTheHeardTake)
{
    recorder.handleJson(command("initialize", true));
    keyTake(dc(0.1f), 4410);
    keyTake(dc(0.2f), 4410);
    // Every take muted: nothing is handed over, the recorder still suspends.
    testing::internal::CaptureStdout();
    recorder.handleJson(command("do_tempo_detection", true));
    const std::string log = testing::internal::GetCapturedStdout();
    EXPECT_NE(log.find("no take is playing"), std::string::npos);
    EXPECT_NE(log.find("FreestyleTempoDetector: no take handed over yet, initialize ignored"), std::string::npos);
    EXPECT_EQ(detector.loop(), nullptr);
    EXPECT_EQ(recorder.status(), "Suspended");

    recorder.handleJson(command("initialize", true));
    const auto takes = recorder.takes();
    recorder.handleJson(command("playing_loop_id", takes[1]->id()));
    recorder.handleJson(command("do_tempo_detection", true));
    EXPECT_EQ(detector.loop(), takes[1]);
    EXPECT_FALSE(detector.isActive());
    EXPECT_FALSE(takes[1]->isPlaying());
    EXPECT_EQ(recorder.state(), FreestyleRecorder::STATE_SUSPENDED);
    EXPECT_EQ(pushedStatuses().back(), "Suspended");
    // Suspended, the recorder plays no takes and keys start nothing.
    recorder.noteOn(60, m_frames);
    for (float v : cycle(block(kSilence, 64)))
        ASSERT_EQ(v, 0.0f);
    EXPECT_EQ(recorder.state(), FreestyleRecorder::STATE_SUSPENDED);
}

TEST_F(FreestyleRecorderTest, SuspendingOrInitializingMidTakeKeepsWhatWasPlayed)
{
    recorder.handleJson(command("initialize", true));
    for (const char* interruption : { "suspend", "initialize" }) {
        SCOPED_TRACE(interruption);
        recorder.noteOn(60, m_frames);
        feed(dc(0.25f), 22050);
        recorder.noteOff(60, m_frames);
        recorder.handleJson(command(interruption, true));
        ASSERT_EQ(recorder.takes()[0]->numFrames(), 22050);
        EXPECT_FLOAT_EQ(recorder.takes()[0]->data()[2 * 22049], 0.25f);
        // The next take starts clean, not on top of the interrupted one.
        recorder.handleJson(command("initialize", true));
        keyTake(dc(0.125f), 4410);
        EXPECT_FLOAT_EQ(recorder.takes()[0]->data()[0], 0.125f);
        EXPECT_FLOAT_EQ(recorder.takes()[0]->data()[2 * 10000], 0.0f);
        EXPECT_EQ(recorder.takes()[1]->numFrames(), 22050);
    }
}

TEST_F(FreestyleRecorderTest, ReleasedTakeIsNoLongerTouchedByTheRing)
{
    recorder.handleJson(command("initialize", true));
    keyTake(dc(0.5f), 4410);
    const std::shared_ptr<Loop> kept = recorder.takes()[0];
    const int64 frames = kept->numFrames();
    EXPECT_EQ(recorder.releaseTake(kept), 0);
    EXPECT_EQ(recorder.releaseTake(kept), 1);
    kept->setMute(false, true);
    for (int i = 0; i < 5; ++i)
        keyTake(dc(0.1f), 4410);
    EXPECT_FALSE(kept->isMuted());
    EXPECT_EQ(kept->numFrames(), frames);
    EXPECT_FLOAT_EQ(kept->data()[0], 0.5f);
    for (const auto& take : recorder.takes())
        EXPECT_NE(take, kept);
}

} // namespace
