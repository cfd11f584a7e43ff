// The road of a free take through the engine and the JSON API, the way the
// page drives it: keys start a take, silence ends it, taps give it a tempo
// and a length, and the idea takes it over with the metronome in phase.
#include "core/beatgrid.h"
#include "core/recordingbuffer.h"
#include "engine/drumloopcollection.h"
#include "engine/drumloopplayer.h"
#include "engine/metronome.h"
#include "engine/project.h"
#include "engine/transport.h"
#include "formats/wavewriter.h"
#include "instruments/instrument.h"
#include "loops/freestylerecorder.h"
#include "loops/freestyletempodetector.h"
#include "loops/idea.h"
#include "loops/ideacollection.h"
#include "loops/loop.h"
#include "loops/looprecorder.h"
#include "support/allocationcounter.h"
#include "support/enginetest.h"
#include "support/instrumentlibrary.h"
#include "support/pushedstates.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>
#include <json/reader.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

namespace {

constexpr int kBlock = 441;
// The playing stops on a block boundary, 3.5 s less one block in, so that
// the take ends at 4.5 s: 450 blocks.
constexpr int64 kPlayedFrames = 349 * kBlock;

float tone(int64 t)
{
    return 0.5f * float(std::sin(2.0 * M_PI * 220.0 * double(t) / 44100.0));
}

// Too quiet to count as playing, yet not nothing: it shows where the tail
// of the take goes.
float hush(int64 t)
{
    return 1e-5f * float(1 + t % 4);
}

float backing(int64 t)
{
    return t < kPlayedFrames ? tone(t) : hush(t);
}

class FreestylePathTest : public EngineTest
{
protected:
    void SetUp() override
    {
        EngineTest::SetUp();
        engine.setJsBridge(&bridge);
    }
    void TearDown() override { engine.setJsBridge(nullptr); }

    Json::Value parse(const std::string& text)
    {
        Json::Value v;
        EXPECT_TRUE(Json::Reader().parse(text, v)) << text;
        return v;
    }
    // What the user plays reaches the freestyle recorder through the loop
    // recorder's playback, which the cycle hands on to it.
    void playIntoLoopRecorder()
    {
        LoopRecorder& recorder = *engine.loopRecorder();
        std::vector<float> all(2 * recorder.lengthFrames());
        for (int64 k = 0; k < recorder.lengthFrames(); ++k)
            all[2 * k] = all[2 * k + 1] = backing(k);
        recorder.setRecord(true);
        recorder.record(all.data(), int(recorder.lengthFrames()));
        recorder.setRecord(false);
    }
    std::vector<float> run(int64 frames)
    {
        std::vector<float> out(2 * frames);
        for (int64 done = 0; done < frames; done += kBlock)
            engine.process(out.data() + 2 * done, kBlock);
        return out;
    }
    // A key held for 20 blocks, then silence until the take ends: the newest take.
    std::shared_ptr<Loop> takeFromAKey()
    {
        send("noteOn->60");
        run(20 * kBlock);
        send("noteOff->60");
        FreestyleRecorder& recorder = *engine.freestyleRecorder();
        while (recorder.state() == FreestyleRecorder::STATE_RECORDING && Transport::instance().position() < 441000)
            run(kBlock);
        EXPECT_EQ(recorder.state(), FreestyleRecorder::STATE_IDLE);
        return recorder.takes()[0];
    }
    std::vector<std::string> pushedStatuses()
    {
        engine.freestyleRecorder()->flushStatePushes();
        std::vector<std::string> statuses;
        for (const Json::Value& state : pushedStates(bridge.messages(), "freestyle_recorder"))
            statuses.push_back(state["status"].asString());
        return statuses;
    }

    RecordingBridge bridge;
};

TEST_F(FreestylePathTest, KeysTakeTapsAndTheIdeaTakesOverInPhase)
{
    send("setTempo->90");
    playIntoLoopRecorder();
    FreestyleRecorder& recorder = *engine.freestyleRecorder();
    FreestyleTempoDetector& detector = *engine.freestyleTempoDetector();

    // Keys start a take; more than a second of silence ends it.
    EXPECT_EQ(send("{ \"freestyle_recorder\" : { \"initialize\" : true } }"), "");
    send("noteOn->60");
    run(20 * kBlock);
    send("noteOff->60");
    std::vector<float> block(2 * kBlock);
    {
        AllocationCounter counter;
        while (recorder.state() == FreestyleRecorder::STATE_RECORDING && Transport::instance().position() < 441000)
            engine.process(block.data(), kBlock);
        EXPECT_EQ(counter.count(), 0u);
    }
    const std::shared_ptr<Loop> take = recorder.takes()[0];
    ASSERT_EQ(take->numFrames(), 198450);
    for (int64 k : { int64(0), int64(5000), kPlayedFrames - 1, kPlayedFrames, int64(198449) })
        ASSERT_FLOAT_EQ(take->data()[2 * k], backing(k)) << k;
    ASSERT_EQ(take->notes().events().size(), 2u);
    EXPECT_EQ(pushedStatuses(), (std::vector<std::string> { "Idle", "Recording", "Idle" }));
    const Json::Value listed = parse(send("getFreestyleRecorder"))["freestyle_recorder"];
    EXPECT_EQ(listed["status"].asString(), "Idle");
    ASSERT_EQ(listed["loops"].size(), 1u);
    EXPECT_EQ(listed["loops"][0]["id"].asInt(), take->id());
    EXPECT_EQ(listed["loops"][0]["notes"].size(), 1u);

    // The page plays the take and asks for tempo detection.
    const std::string id = std::to_string(take->id());
    send("{ \"freestyle_recorder\" : { \"playing_loop_id\" : " + id + " } }");
    send("{ \"freestyle_recorder\" : { \"do_tempo_detection\" : true } }");
    EXPECT_EQ(detector.loop(), take);
    EXPECT_EQ(recorder.status(), "Suspended");
    ASSERT_EQ(pushedStates(bridge.messages(), "freestyle_tempo_detector").size(), 1u);
    EXPECT_EQ(parse(send("getFreestyleTempoDetector"))["freestyle_tempo_detector"]["loops"][0]["id"].asString(), id);

    // While it auditions, the loop recorder follows the take, not the transport.
    send("{ \"freestyle_tempo_detector\" : { \"play_loop\" : true } }");
    ASSERT_TRUE(detector.isActive());
    run(7 * kBlock);
    for (int i = 0; i < 5; ++i) {
        const int64 takePos = detector.playPosFrames();
        const int64 transportPos = Transport::instance().position();
        run(kBlock);
        EXPECT_EQ(engine.loopRecorder()->posSamples(), 2 * (takePos % engine.loopRecorder()->lengthFrames()));
        EXPECT_EQ(Transport::instance().position(), transportPos + kBlock);
    }

    // Taps at 120 bpm, 3.4 s from first to last: 8 beats, the tail folded on.
    send("{ \"freestyle_tempo_detector\" : { \"bpm\" : 120, \"first_to_last_tap_time\" : 3400 } }");
    ASSERT_EQ(take->numFrames(), 176400);
    EXPECT_EQ(take->numBeats(), 8);
    for (int64 k = 0; k < 176400; k += 97)
        ASSERT_FLOAT_EQ(take->data()[2 * k], k < 22050 ? backing(k) + backing(k + 176400) : backing(k)) << k;

    EXPECT_EQ(send("createLoopFromFreestyleTempoDetector"), "");
    ASSERT_EQ(engine.ideaCollection()->ideas().size(), 1u);
    Idea* idea = engine.ideaCollection()->activeIdea();
    ASSERT_EQ(idea->loops().size(), 1u);
    EXPECT_EQ(idea->loops()[0], take);
    EXPECT_FALSE(detector.isActive());
    EXPECT_EQ(detector.loop(), nullptr);
    for (const auto& t : recorder.takes())
        EXPECT_NE(t, take);
    EXPECT_FLOAT_EQ(engine.metronome()->bpm(), 120.0f);
    EXPECT_EQ(engine.metronome()->framesPerBeat(), 22050);
    EXPECT_FLOAT_EQ(Transport::instance().bpm(), 120.0f);
    EXPECT_EQ(Transport::instance().position(), take->playPosOffset() / 2);
    EXPECT_EQ(engine.loopRecorder()->numBeats(), 16);
    EXPECT_EQ(engine.loopRecorder()->lengthFrames(), 352800);
    EXPECT_DOUBLE_EQ(engine.project()->bpm(), 90.0);
    EXPECT_TRUE(engine.project()->isModified());

    // The idea plays it from where it was, phase-locked to the transport.
    for (int i = 0; i < 4; ++i) {
        run(kBlock);
        ASSERT_EQ(take->playPosOffset(), 2 * (Transport::instance().position() % 176400));
    }
    std::vector<float> out = run(kBlock);
    EXPECT_NE(out[0], 0.0f);

    // With the loop muted in the idea, the clicks fall on the loop's beats.
    send("{ \"idea_collection\" : { \"ideas\" : [ { \"id\" : " + std::to_string(idea->id())
         + ", \"loops\" : [ { \"id\" : " + id + ", \"mute\" : true } ] } ] } }");
    send("{ \"metronome\" : { \"mute\" : false } }");
    run(22050);
    const int64 start = Transport::instance().position();
    out = run(4 * 22050);
    std::vector<int64> onsets;
    for (int64 k = 0, quiet = 0; k < int64(out.size() / 2); ++k) {
        if (std::fabs(out[2 * k]) > 0.05f && quiet > 10000)
            onsets.push_back((start + k) % 22050);
        quiet = std::fabs(out[2 * k]) > 0.05f ? 0 : quiet + 1;
    }
    ASSERT_GE(onsets.size(), 3u);
    for (int64 phase : onsets)
        EXPECT_LT(phase, 64) << "a click away from the beat";

    // Taking the recorder up again leaves the idea's loop alone.
    send("{ \"freestyle_recorder\" : { \"initialize\" : true } }");
    EXPECT_TRUE(take->isMuted()); // muted by the idea above, and still the idea's
    EXPECT_EQ(take->numFrames(), 176400);
}

TEST_F(FreestylePathTest, TakingOverBeforeAnyTakeChangesNothing)
{
    testing::internal::CaptureStdout();
    EXPECT_EQ(send("createLoopFromFreestyleTempoDetector"), "");
    EXPECT_NE(testing::internal::GetCapturedStdout().find("No freestyle loop to take over"), std::string::npos);
    EXPECT_TRUE(engine.ideaCollection()->ideas().empty());
    EXPECT_FALSE(engine.project()->isModified());
    EXPECT_EQ(engine.metronome()->framesPerBeat(), 22050);
    EXPECT_EQ(engine.loopRecorder()->lengthFrames(), 352800);
    EXPECT_EQ(parse(send("getFreestyleTempoDetector")),
              parse("{ \"freestyle_tempo_detector\" : { \"loops\" : [] } }"));
    EXPECT_EQ(parse(send("getFreestyleRecorder")),
              parse("{ \"freestyle_recorder\" : { \"loops\" : [], \"status\" : \"Suspended\" } }"));
}

// One message may address both components: the recorder hands over first.
// Within the recorder the hand-over comes before the choice of take.
TEST_F(FreestylePathTest, OneMessageReachesRecorderThenDetector)
{
    send("{ \"freestyle_recorder\" : { \"initialize\" : true } }");
    send("noteOn->60");
    send("noteOff->60");
    run(2 * 44100);
    const std::shared_ptr<Loop> take = engine.freestyleRecorder()->takes()[0];
    ASSERT_FALSE(take->isEmpty());
    const std::string both = "{ \"freestyle_recorder\" : { \"playing_loop_id\" : " + std::to_string(take->id())
        + ", \"do_tempo_detection\" : true }, \"freestyle_tempo_detector\" : { \"play_loop_once\" : true } }";
    send(both);
    EXPECT_EQ(engine.freestyleTempoDetector()->loop(), nullptr);
    EXPECT_FALSE(engine.freestyleTempoDetector()->isActive());
    send(both); // the take the first message played is handed over now
    EXPECT_EQ(engine.freestyleTempoDetector()->loop(), take);
    EXPECT_TRUE(engine.freestyleTempoDetector()->isActive());
}

// Cancel on the tempo screen goes back to the takes as they were when one was
// handed over: that take is heard again. Coming back to the takes any other
// way starts afresh, with every take silent.
TEST_F(FreestylePathTest, CancelledTempoDetectionLeavesTheTakeHeardAndOnlyThen)
{
    const std::string recorderOn = "{ \"freestyle_recorder\" : { \"initialize\" : true } }";
    const std::string recorderOff = "{ \"freestyle_recorder\" : { \"suspend\" : true } }";
    const std::string restore = "{ \"freestyle_tempo_detector\" : { \"suspend_and_restore_loop_state\" : true } }";
    playIntoLoopRecorder();
    send(recorderOn);
    const std::shared_ptr<Loop> take = takeFromAKey();
    FreestyleRecorder& recorder = *engine.freestyleRecorder();
    ASSERT_GT(take->numFrames(), 44100);
    // The takes screen silences the loop recorder: only the takes can be heard.
    send("{ \"loop_recorder\" : { \"suspend\" : true } }");
    const std::string id = std::to_string(take->id());
    const std::vector<std::string> handOver = { "{ \"freestyle_recorder\" : { \"playing_loop_id\" : " + id + " } }",
        "{ \"freestyle_recorder\" : { \"do_tempo_detection\" : true } }",
        "{ \"freestyle_tempo_detector\" : { \"play_loop\" : true } }" };

    struct Case { const char* path; std::vector<std::string> messages; bool heard; };
    const Case cases[] = {
        { "Find tempo, Cancel", { restore, recorderOn }, true },
        { "Find tempo, off to the ideas, back", { restore, recorderOff, recorderOn }, false },
        { "leave the takes and come back", { recorderOff, recorderOn }, false },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        if (std::string(c.path).rfind("Find tempo", 0) == 0) {
            for (const std::string& m : handOver)
                send(m);
            run(10 * kBlock);
            ASSERT_TRUE(engine.freestyleTempoDetector()->isActive());
        }
        for (const std::string& m : c.messages)
            send(m);
        EXPECT_EQ(recorder.state(), FreestyleRecorder::STATE_IDLE);
        EXPECT_FALSE(engine.freestyleTempoDetector()->isActive());
        EXPECT_EQ(take->isMuted(), !c.heard);
        // The first block still carries what the master bus held back.
        const std::vector<float> out = run(44100);
        float peak = 0.0f;
        for (std::size_t i = 2 * kBlock; i < out.size(); ++i)
            peak = std::max(peak, std::fabs(out[i]));
        EXPECT_EQ(peak > 0.1f, c.heard) << "peak " << peak;
        // The take is listed as playing, so the page shows it playing.
        const Json::Value listed = parse(send("getFreestyleRecorder"))["freestyle_recorder"]["loops"][0];
        EXPECT_EQ(listed["mute"].asBool(), !c.heard);
        send("{ \"freestyle_recorder\" : { \"loops\" : [ { \"id\" : " + id + ", \"mute\" : true } ] } }");
        run(kBlock);
    }
}

// Live input arrives the way the input stream delivers it: written into the
// instrument's recording buffer, read out by the instrument in the cycle.
TEST(FreestyleLiveInput, NoTakeInTheFirstSecondThenTheInputStartsOne)
{
    EmptyWorkingDirectory directory;
    Transport::instance().setPosition(0);
    Transport::instance().setBpm(120.0f);
    FakeAudioManager devices({ "Line In" });
    ZubEngine engine(&devices);
    ZubApi api(&engine);
    FreestyleRecorder& recorder = *engine.freestyleRecorder();
    api.handleMessage("loadInstrument:500");
    ASSERT_EQ(recorder.inputMode(), FreestyleRecorder::INPUT_AUDIO);
    api.handleMessage("{ \"freestyle_recorder\" : { \"initialize\" : true } }");

    RecordingBuffer& input = *engine.instrument()->recordingBuffer();
    int64 t = 0;
    std::vector<float> in(2 * kBlock), out(2 * kBlock);
    auto play = [&](float gain, int blocks) {
        for (int b = 0; b < blocks; ++b, t += kBlock) {
            for (int k = 0; k < kBlock; ++k)
                in[2 * k] = in[2 * k + 1] = gain * tone(t + k);
            input.write(in.data(), kBlock);
            engine.process(out.data(), kBlock);
        }
    };
    // However loud, the first second after going idle starts nothing.
    for (int b = 0; b < 99; ++b) {
        play(1.5f, 1);
        ASSERT_EQ(recorder.state(), FreestyleRecorder::STATE_IDLE) << b;
    }
    api.handleMessage("noteOn->60"); // keys do not start takes from live input
    play(0.0f, 150);
    ASSERT_EQ(recorder.state(), FreestyleRecorder::STATE_IDLE);
    const int64 start = t;
    play(1.0f, 50);
    EXPECT_EQ(recorder.state(), FreestyleRecorder::STATE_RECORDING);
    play(0.0f, 120);
    ASSERT_EQ(recorder.state(), FreestyleRecorder::STATE_IDLE);
    const std::shared_ptr<Loop> take = recorder.takes()[0];
    ASSERT_GT(take->numFrames(), 50 * kBlock + 44100);
    for (int64 k : { 1, 441, 10000 })
        ASSERT_FLOAT_EQ(take->data()[2 * k], tone(start + k)) << k;

    api.handleMessage("loadInstrument:3");
    EXPECT_EQ(recorder.inputMode(), FreestyleRecorder::INPUT_KEYS);
}

} // namespace


// A song with loops holds its tempo: a take tapped at another tempo stays on
// the tempo screen, and the same take cut on the song's beats joins the song
// with the click, the transport and the saved tempo unchanged.
TEST_F(FreestylePathTest, KeptLoopsTakeATakeOnlyAtTheSongsTempo)
{
    send("setTempo->90");
    playIntoLoopRecorder();
    ASSERT_EQ(send("createLoopFromLoopRecorder"), "");
    Idea* idea = engine.ideaCollection()->activeIdea();
    ASSERT_EQ(idea->loops().size(), 1u);
    // The takes screen: the loop recorder rests, only the keys make a take.
    send("{ \"loop_recorder\" : { \"suspend\" : true } }");
    send("{ \"freestyle_recorder\" : { \"initialize\" : true } }");
    const std::shared_ptr<Loop> take = takeFromAKey();
    ASSERT_GT(take->numFrames(), 44100);
    const std::string id = std::to_string(take->id());
    send("{ \"freestyle_recorder\" : { \"playing_loop_id\" : " + id + " } }");
    send("{ \"freestyle_recorder\" : { \"do_tempo_detection\" : true } }");
    send("{ \"freestyle_tempo_detector\" : { \"play_loop\" : true } }");
    const int64 beat90 = BeatGrid(90.0f).framesForBeats(1);

    struct Case { double bpm; bool kept; };
    for (const Case c : { Case { 120.0, false }, Case { 90.0, true } }) {
        SCOPED_TRACE(c.bpm);
        send("{ \"freestyle_tempo_detector\" : { \"bpm\" : " + std::to_string(c.bpm)
             + ", \"first_to_last_tap_time\" : 2000 } }");
        testing::internal::CaptureStdout();
        send("createLoopFromFreestyleTempoDetector");
        const std::string log = testing::internal::GetCapturedStdout();
        EXPECT_EQ(log.find("Kept loops hold the tempo at 90 bpm, the take's tempo refused: 120") != std::string::npos,
                  !c.kept) << log;
        EXPECT_EQ(idea->loops().size(), c.kept ? 2u : 1u);
        EXPECT_EQ(engine.freestyleTempoDetector()->loop() == take, !c.kept) << "a refused take stays to be tapped again";
        EXPECT_EQ(engine.freestyleTempoDetector()->isActive(), !c.kept);
        EXPECT_FLOAT_EQ(Transport::instance().bpm(), 90.0f);
        EXPECT_FLOAT_EQ(engine.metronome()->bpm(), 90.0f);
        EXPECT_EQ(engine.metronome()->framesPerBeat(), beat90);
        EXPECT_DOUBLE_EQ(engine.project()->bpm(), 90.0);
    }
    EXPECT_EQ(take->numFrames(), 4 * beat90) << "2 s of taps and the beat after them, at 90 bpm";

    // Nor does the saved tempo move away from the loops'.
    send("{ \"project\" : { \"bpm\" : 120 } }");
    EXPECT_DOUBLE_EQ(engine.project()->bpm(), 90.0);
    send("{ \"project\" : { \"bpm\" : 90, \"modified_since_last_save\" : true, \"mac_sandbox_guid\" : 7 } }");
    EXPECT_DOUBLE_EQ(engine.project()->bpm(), 90.0);
}

// A drum loop playing when a take is kept at another tempo goes on at the
// take's tempo, beat for beat with it, as it would after a typed tempo; undo
// and redo of the keep move both tempo and drum loop back and forth.
TEST_F(FreestylePathTest, ADrumLoopPlaysOnInTimeWithATakeKeptAtAnotherTempo)
{
    TempDir dir;
    std::vector<float> clicks(2 * 88200, 0.0f); // 4 beats at 120 bpm, a click on each
    for (int64 k = 0; k < 88200; ++k)
        clicks[2 * k] = clicks[2 * k + 1] = k % 22050 < 200 ? 0.5f : 0.0f;
    ASSERT_EQ(writeWav(dir.file("120 4 Basic.wav"), clicks.data(), int(clicks.size())), 0);
    engine.drumLoopCollection()->scan(dir.path().string());
    send("loadDrumLoopByName:120 4 Basic.wav");
    send("playDrumLoop");
    ASSERT_EQ(engine.drumLoopPlayer()->loop()->numFrames(), 88200);

    send("{ \"loop_recorder\" : { \"suspend\" : true } }");
    send("{ \"freestyle_recorder\" : { \"initialize\" : true } }");
    const std::shared_ptr<Loop> take = takeFromAKey();
    send("{ \"freestyle_recorder\" : { \"playing_loop_id\" : " + std::to_string(take->id()) + " } }");
    send("{ \"freestyle_recorder\" : { \"do_tempo_detection\" : true } }");
    send("{ \"freestyle_tempo_detector\" : { \"play_loop\" : true } }");
    run(11 * kBlock);
    // Taps at 97 bpm, where a beat is no whole number of frames and 8 beats are
    // a frame more than twice 4: 8 beats.
    send("{ \"freestyle_tempo_detector\" : { \"bpm\" : 97, \"first_to_last_tap_time\" : 3200 } }");
    const BeatGrid grid(97.0);
    ASSERT_EQ(take->numBeats(), 8);
    ASSERT_EQ(take->numFrames(), grid.framesForBeats(8));
    ASSERT_EQ(send("createLoopFromFreestyleTempoDetector"), "");
    send("{ \"freestyle_recorder\" : { \"suspend\" : true } }");
    send("{ \"loop_recorder\" : { \"initialize\" : true } }");

    const std::shared_ptr<Loop> drums = engine.drumLoopPlayer()->loop();
    ASSERT_TRUE(drums);
    EXPECT_EQ(drums->numFrames(), grid.framesForBeats(4)) << "4 beats at the take's tempo";
    EXPECT_EQ(take->numFrames(), grid.framesForBeats(8)) << "the take keeps its length";
    const std::vector<std::shared_ptr<Loop>> loops = engine.ideaCollection()->activeIdea()->loops();
    EXPECT_EQ(loops.size(), 2u);
    EXPECT_NE(std::find(loops.begin(), loops.end(), take), loops.end());
    EXPECT_NE(std::find(loops.begin(), loops.end(), drums), loops.end());
    EXPECT_FLOAT_EQ(Transport::instance().bpm(), 97.0f);
    // Both play on the song's beats: wherever the song is, the take's
    // position and the drum loop's are the same beat's.
    for (int i = 0; i < 300; ++i) {
        run(kBlock);
        const int64 at = Transport::instance().position();
        ASSERT_EQ(take->playPosOffset() / 2, grid.loopPhase(at, 8, take->numFrames())) << at;
        ASSERT_EQ(drums->playPosOffset() / 2, grid.loopPhase(at, 4, drums->numFrames())) << at;
    }

    // The page saves the take's tempo with the song; undo and redo then put
    // back each song at its own tempo, with its own drum loop.
    send("{ \"project\" : { \"bpm\" : 97 } }");
    struct Step { const char* command; float bpm; int64 drumFrames; bool holdsTake; };
    for (const Step& step : { Step { "undo", 120.0f, 88200, false }, Step { "redo", 97.0f, grid.framesForBeats(4), true } }) {
        SCOPED_TRACE(step.command);
        send(step.command);
        EXPECT_FLOAT_EQ(Transport::instance().bpm(), step.bpm);
        EXPECT_FLOAT_EQ(engine.metronome()->bpm(), step.bpm);
        EXPECT_DOUBLE_EQ(engine.project()->bpm(), double(step.bpm));
        ASSERT_TRUE(engine.drumLoopPlayer()->loop());
        EXPECT_EQ(engine.drumLoopPlayer()->loop()->numFrames(), step.drumFrames);
        const std::vector<std::shared_ptr<Loop>> now = engine.ideaCollection()->activeIdea()->loops();
        EXPECT_EQ(std::find(now.begin(), now.end(), take) != now.end(), step.holdsTake);
        EXPECT_NE(std::find(now.begin(), now.end(), engine.drumLoopPlayer()->loop()), now.end());
    }
}
