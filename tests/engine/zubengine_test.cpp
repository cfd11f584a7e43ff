#include "engine/metronome.h"
#include "engine/transport.h"
#include "engine/zubengine.h"
#include "support/enginetest.h"

#include <cmath>
#include <gtest/gtest.h>
#include <vector>

namespace {

class ZubEngineTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        Transport::instance().setPosition(0);
        Transport::instance().setBpm(120.0f);
    }
    static void clicksLandOnBeats(ZubEngine& engine, float bpm);
    ZubEngine engine { nullptr };
};

TEST_F(ZubEngineTest, AnyBufferSizeRunsTheWholeCycle)
{
    for (int frames : { 1, 64, 16383, 16384, 40000 }) {
        std::vector<float> buf(2 * frames, 1.0f);
        const int64 before = Transport::instance().position();
        engine.process(buf.data(), frames);
        EXPECT_EQ(Transport::instance().position() - before, frames);
        for (float v : buf)
            ASSERT_LT(std::fabs(v), 1e-6f) << "muted engine must output silence for " << frames;
    }
}

// At 110 bpm a beat is 24,054.5 frames: beat k starts at round(k x that).
TEST_F(ZubEngineTest, ClicksLandOnTransportBeatsAcrossOddBuffers)
{
    for (float bpm : { 120.0f, 110.0f }) {
        ZubEngine fresh(nullptr); // no filter ringing from the last run
        clicksLandOnBeats(fresh, bpm);
    }
}

void ZubEngineTest::clicksLandOnBeats(ZubEngine& engine, float bpm)
{
    SCOPED_TRACE(bpm);
    Transport::instance().setPosition(0);
    ASSERT_EQ(engine.setTempo(bpm), 0);
    Json::Value msg;
    msg["metronome"]["mute"] = false;
    engine.metronome()->handleJson(msg);
    const BeatGrid grid(bpm);
    const int total = int(grid.beatStart(3)) + 500;
    std::vector<float> out;
    std::vector<float> buf;
    int done = 0, size = 1;
    while (done < total) {
        const int n = std::min(size, total - done);
        buf.assign(2 * n, 0.0f);
        engine.process(buf.data(), n);
        out.insert(out.end(), buf.begin(), buf.end());
        done += n;
        size = size * 3 % 997 + 1; // changing callback sizes
    }
    // Output frame i is transport position i: the tick starts two frames past
    // every beat (its first two entries are 0); the master bus filters add a
    // few frames before it crosses the threshold.
    std::vector<int> onsets;
    for (int i = 0; i < total; ++i)
        if (std::fabs(out[2 * i]) > 1e-3f && (onsets.empty() || i - onsets.back() > 1000))
            onsets.push_back(i);
    ASSERT_EQ(onsets.size(), 4u);
    EXPECT_GE(onsets[0], 2);
    EXPECT_LT(onsets[0], 16);
    for (int k = 1; k < 4; ++k)
        EXPECT_EQ(onsets[k] - onsets[0], grid.beatStart(k));
}

TEST_F(ZubEngineTest, TempoOutsideRangeIsRefused)
{
    EXPECT_EQ(engine.setTempo(90.0f), 0);
    EXPECT_FLOAT_EQ(Transport::instance().bpm(), 90.0f);
    EXPECT_EQ(engine.metronome()->framesPerBeat(), 29400);
    EXPECT_EQ(engine.setTempo(250.0f), 1);
    EXPECT_EQ(engine.setTempo(0.0f), 1);
    EXPECT_FLOAT_EQ(Transport::instance().bpm(), 90.0f);
    EXPECT_EQ(engine.metronome()->framesPerBeat(), 29400);
}

TEST_F(ZubEngineTest, ProcessAllocatesNothing)
{
    Json::Value msg;
    msg["metronome"]["mute"] = false;
    engine.metronome()->handleJson(msg);
    EXPECT_EQ(cycleAllocations(engine), 0u);
}

} // namespace
