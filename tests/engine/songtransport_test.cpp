// The song's transport: Stop silences the ideas (with a fade), the click and
// the loop recorder; Play brings the last idea back on the next bar. A tempo
// detector's pass played once hands the position back to the transport.
#include "engine/metronome.h"
#include "engine/transport.h"
#include "enginefakes.h"
#include "loops/freestyletempodetector.h"
#include "loops/looprecorder.h"
#include "support/enginetest.h"

#include <gtest/gtest.h>
#include <json/reader.h>

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

class SongTransportTest : public EngineTest
{
protected:
    // Runs frames in blocks of 256; the output, interleaved.
    std::vector<float> run(int64 frames)
    {
        std::vector<float> out(std::size_t(2 * frames));
        for (int64 done = 0; done < frames; done += 256)
            engine.process(out.data() + 2 * done, int(std::min<int64>(256, frames - done)));
        return out;
    }
    static float peak(const std::vector<float>& out, int64 from, int64 to)
    {
        float p = 0.0f;
        for (int64 k = from; k < to; ++k)
            p = std::max(p, std::fabs(out[std::size_t(2 * k)]));
        return p;
    }
    Json::Value collection()
    {
        Json::Value v;
        Json::Reader().parse(send("getIdeaCollection"), v);
        return v["idea_collection"];
    }
    void click(bool on) { send(std::string("{ \"metronome\" : { \"mute\" : ") + (on ? "false" : "true") + " } }"); }
};

TEST_F(SongTransportTest, StopFadesOutAndPlayStartsTheLastIdeaOnTheNextBar)
{
    const int64 n = 88200; // one bar at 120 bpm
    const std::shared_ptr<Loop> loop = makeLoop(engine, n, [](int64 k, int) { return 0.3f * float(std::sin(k * 0.05)); });
    Idea* verse = addIdea(engine, "Verse", { loop });
    addIdea(engine, "Chorus", { makeLoop(engine, n, [](int64, int) { return 0.0f; }) });
    EXPECT_EQ(send("playSong"), "");
    EXPECT_FALSE(collection()["stopped"].asBool()) << "a playing song does not play again";
    run(30000);

    engine.loopRecorder()->setRecord(true);
    click(true);
    EXPECT_EQ(send("stopSong"), "");
    EXPECT_EQ(collection()["active_idea_id"].asInt(), 0);
    EXPECT_TRUE(collection()["stopped"].asBool());
    EXPECT_FALSE(engine.loopRecorder()->isRecording());
    const std::vector<float> stopping = run(44100);
    EXPECT_GT(peak(stopping, 0, 200), 0.05f) << "the loop fades out rather than stopping dead";
    EXPECT_LT(peak(stopping, 0, 200), 1.0f);
    // 150 ms of fade, then silence: no loop, no click (a beat falls in here).
    EXPECT_LT(peak(stopping, 8000, 44100), 1e-4f);

    click(false);
    const int64 at = Transport::instance().position(); // 74,100: the next bar is 88,200
    ASSERT_LT(at % n, n - 3000);
    EXPECT_EQ(send("playSong"), "");
    EXPECT_EQ(collection()["active_idea_id"].asInt(), verse->id());
    const int64 toBar = n - at % n;
    const std::vector<float> starting = run(toBar + 3000);
    EXPECT_LT(peak(starting, 0, toBar - 64), 1e-4f) << "silent until the bar";
    EXPECT_GT(peak(starting, toBar + 64, toBar + 3000), 0.05f);
    // On the bar at the loop's own phase: the transport's.
    const int64 t = Transport::instance().position();
    EXPECT_EQ(loop->playPosOffset(), 2 * (t % n));
    EXPECT_EQ(send("playSong"), "");
    EXPECT_EQ(collection()["active_idea_id"].asInt(), verse->id());
}

TEST_F(SongTransportTest, ChoosingAnIdeaOrANewSongEndsTheStop)
{
    Idea* verse = addIdea(engine, "Verse", { makeLoop(engine, 1000, [](int64, int) { return 0.1f; }) });
    send("stopSong");
    send("{ \"idea_collection\" : { \"active_idea_id\" : " + std::to_string(verse->id()) + " } }");
    EXPECT_FALSE(collection()["stopped"].asBool());
    send("stopSong");
    send("clearProject");
    EXPECT_FALSE(collection()["stopped"].asBool()) << "a new song plays what is recorded next";
    EXPECT_EQ(send("stopSong"), "");
    EXPECT_FALSE(collection()["stopped"].asBool()) << "nothing to stop";
}

TEST_F(SongTransportTest, APassPlayedOnceHandsThePositionBackToTheTransport)
{
    const int64 n = 22050;
    const std::shared_ptr<Loop> loop = makeLoop(engine, n, [](int64, int) { return 0.1f; });
    addIdea(engine, "Verse", { loop });
    FreestyleTempoDetector& detector = *engine.freestyleTempoDetector();
    detector.setLoop(makeLoop(engine, 3000, [](int64, int) { return 0.2f; }));
    send("{ \"freestyle_tempo_detector\" : { \"initialize\" : true } }");
    send("{ \"freestyle_tempo_detector\" : { \"play_loop_once\" : true } }");
    EXPECT_TRUE(detector.isActive());
    run(4096);
    EXPECT_FALSE(detector.isActive());
    // The idea moves on with the transport instead of replaying its start.
    for (int block = 0; block < 3; ++block) {
        run(1000);
        EXPECT_EQ(loop->playPosOffset(), 2 * (Transport::instance().position() % n));
    }
    EXPECT_GT(Transport::instance().position() % n, 4096);
    detector.setLoop(nullptr);
}

} // namespace
