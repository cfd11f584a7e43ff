#include "engine/transport.h"
#include "support/setclock.h"

#include <gtest/gtest.h>

namespace {

// The process-wide transport on a clock the test moves, put back afterwards.
class TransportTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        transport.setClock(&clock);
        transport.setPosition(0);
        transport.setBpm(120.0f);
    }
    void TearDown() override
    {
        transport.setClock(nullptr);
        transport.setPosition(0);
        transport.restamp();
    }
    Transport& transport = Transport::instance();
    SetClock clock;
};

// A note is where the audio is: the frame the cycle in progress began at plus
// the time since, held inside that cycle however late it arrives.
TEST_F(TransportTest, FrameNowIsTheCycleInProgressPlusTheTimeSinceItBegan)
{
    transport.setPosition(10000);
    clock.m_now = 5000000;
    transport.process(nullptr, 256);
    EXPECT_EQ(transport.position(), 10256);
    struct Case { int64 afterUs; int64 frame; };
    const Case cases[] = { { 0, 10000 }, { 1000, 10044 }, { 5000, 10220 }, { 5804, 10255 }, { 60000000, 10255 },
                           { -300, 10000 } };
    for (const Case& c : cases) {
        clock.m_now = 5000000 + c.afterUs;
        EXPECT_EQ(transport.frameNow(), c.frame) << c.afterUs << " us after the cycle began";
    }
}

TEST_F(TransportTest, AJumpCountsFromTheNextCycleOrFromARestamp)
{
    transport.setPosition(50000);
    clock.m_now = 1000;
    transport.process(nullptr, 512);
    transport.setPosition(0); // the drum loop restarts the song
    EXPECT_EQ(transport.frameNow(), 50000) << "until the next cycle, the cycle in progress";
    clock.m_now = 2000;
    transport.process(nullptr, 512);
    EXPECT_EQ(transport.frameNow(), 0);
    transport.setPosition(777777);
    transport.restamp(); // no cycle runs: a render has just ended
    clock.m_now = 1000000;
    EXPECT_EQ(transport.frameNow(), 777777);
}

TEST_F(TransportTest, BeatPositionIsOnTheGrid)
{
    transport.setBpm(110.0f);
    transport.setBeatPosition(16.0);
    EXPECT_EQ(transport.position(), 384873);
    transport.setBeatPosition(16.5); // beat 16 is 24,054 frames long
    EXPECT_EQ(transport.position(), 384873 + 12027);
    EXPECT_DOUBLE_EQ(transport.beatPosition(), 16.5);
    transport.setPosition(1000);
    EXPECT_DOUBLE_EQ(transport.beatPosition(), 1000.0 / 24055); // the first beat's whole frames
}

} // namespace
