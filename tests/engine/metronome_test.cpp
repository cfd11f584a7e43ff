#include "engine/metronome.h"
#include "engine/transport.h"
#include "engine/zubengine.h"

#include <cmath>
#include <gtest/gtest.h>
#include <vector>

namespace {

TEST(Metronome, ClickTableIsAShortTickNearTheBeatStart)
{
    Metronome m;
    const float* click = m.clickTable();
    int first = -1, last = -1;
    float peak = 0.0f;
    for (int i = 0; i < Metronome::CLICK_TABLE_SIZE; ++i) {
        if (click[i] != 0.0f) {
            if (first < 0)
                first = i;
            last = i;
            peak = std::max(peak, std::fabs(click[i]));
        }
    }
    EXPECT_EQ(first, 2);
    EXPECT_EQ(last, 131);
    EXPECT_NEAR(peak, 0.69f, 0.01f);
    for (int i = 2; i < 132; i += 2)
        EXPECT_EQ(click[i], click[i + 1]) << "both frames of a pair carry one value";
}

TEST(Metronome, TempoGivesFramesPerBeat)
{
    struct Case { float bpm; int frames; };
    const Case cases[] = { { 120, 22050 }, { 30, 88200 }, { 200, 13230 }, { 90, 29400 } };
    Metronome m;
    for (const Case& c : cases) {
        EXPECT_EQ(m.setTempo(c.bpm), 0);
        EXPECT_EQ(m.framesPerBeat(), c.frames) << c.bpm;
    }
}

TEST(Metronome, OutOfRangeRequestsChangeNothing)
{
    Metronome m;
    for (float bpm : { 29.9f, 200.5f, 0.0f, -120.0f, NAN }) {
        EXPECT_EQ(m.setTempo(bpm), 1) << bpm;
        EXPECT_EQ(m.framesPerBeat(), 22050);
        EXPECT_FLOAT_EQ(m.bpm(), 120.0f);
    }
    EXPECT_EQ(m.setFramesPerBeat(0), 1);
    EXPECT_EQ(m.setFramesPerBeat(Metronome::CLICK_TABLE_SIZE + 1), 1);
    EXPECT_EQ(m.framesPerBeat(), 22050);
}

TEST(Metronome, SetFramesPerBeatKeepsTheTempo)
{
    Metronome m;
    EXPECT_EQ(m.setFramesPerBeat(1000), 0);
    EXPECT_FLOAT_EQ(m.bpm(), 120.0f);
    std::vector<float> buf(2 * 3000, 0.0f);
    m.handleJson(Json::Value::null);
    Json::Value unmute;
    unmute["metronome"]["mute"] = false;
    m.handleJson(unmute);
    m.setPosition(0);
    m.process(buf.data(), 3000);
    for (int beat = 0; beat < 3; ++beat) {
        EXPECT_EQ(buf[2 * (beat * 1000)], 0.0f);
        EXPECT_NE(buf[2 * (beat * 1000 + 2)], 0.0f) << "click at beat " << beat;
    }
}

// Unmuting late in the tick's window plays nothing until the next beat;
// unmuting early plays the rest of the tick.
TEST(Metronome, UnmutingMidBeat)
{
    struct Case { int unmuteAt; bool expectSound; };
    const Case cases[] = { { 50, true }, { 200, false } };
    for (const Case& c : cases) {
        Metronome m;
        m.setPosition(c.unmuteAt);
        Json::Value msg;
        msg["metronome"]["mute"] = false;
        m.handleJson(msg);
        std::vector<float> buf(2 * 1000, 0.0f);
        m.process(buf.data(), 1000);
        bool any = false;
        for (float v : buf)
            any = any || v != 0.0f;
        EXPECT_EQ(any, c.expectSound) << "unmuted at " << c.unmuteAt;
    }
}

TEST(Metronome, JsonStateAndBadValues)
{
    Metronome m;
    Json::Value root;
    m.toJson(root);
    EXPECT_TRUE(root["metronome"]["mute"].isBool());
    EXPECT_TRUE(root["metronome"]["mute"].asBool());

    Json::Value wrongType;
    wrongType["metronome"]["mute"] = "no";
    m.handleJson(wrongType); // must not throw
    EXPECT_TRUE(m.isMuted());
}

TEST(Transport, MicrosecondsSinceBeat)
{
    Transport& t = Transport::instance();
    const int64 saved = t.position();
    const float savedBpm = t.bpm();
    t.setBpm(120.0f);
    struct Case { int64 pos; int64 usec; };
    const Case cases[] = { { 33075, 250000 }, { 22050, 0 }, { 0, 0 }, { 22049, 499977 } };
    for (const Case& c : cases) {
        t.setPosition(c.pos);
        EXPECT_EQ(t.microsecondsSinceBeat(), c.usec) << c.pos;
    }
    t.setPosition(saved);
    t.setBpm(savedBpm);
}

} // namespace
