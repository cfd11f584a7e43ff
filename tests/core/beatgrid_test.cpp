#include "core/beatgrid.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

namespace {

TEST(BeatGrid, BeatsAreTheTempoRoundedOnceToWholeFrames)
{
    struct Case { double bpm; int64 beats; int64 frames; };
    const Case cases[] = { { 120.0, 16, 352800 }, { 90.0, 8, 235200 }, { 125.0, 16, 338688 },
                           { 110.0, 16, 384873 }, { 110.0, 2, 48109 }, { 117.3, 8, 180460 }, { 30.0, 64, 5644800 } };
    for (const Case& c : cases)
        EXPECT_EQ(BeatGrid(c.bpm).framesForBeats(c.beats), c.frames) << c.bpm << " bpm, " << c.beats << " beats";
}

TEST(BeatGrid, EveryFrameLiesInTheBeatThatStartsAtOrBeforeIt)
{
    const BeatGrid grid(117.3);
    for (int64 frame : { int64(0), int64(1), int64(22556), int64(22557), int64(987654321), int64(-5) }) {
        const int64 beat = grid.beatAt(frame);
        EXPECT_LE(grid.beatStart(beat), frame) << frame;
        EXPECT_GT(grid.beatStart(beat + 1), frame) << frame;
    }
}

// At tempos whose beats are not whole frames, loops of 2 and 64 beats differ
// from exact multiples of each other; counted modulo their lengths they would
// drift apart by frames every pass. On the grid every pass starts on its beat
// for an hour and more, whatever its length.
TEST(BeatGrid, LoopsThatAreTheirBeatsLongWrapOnTheirBeatsForever)
{
    for (double bpm : { 110.0, 117.3, 93.7 }) {
        const BeatGrid grid(bpm);
        const int64 hourBeats = int64(bpm * 60 * 1.5);
        for (int64 beats : { 2, 4, 16, 64 }) {
            const int64 length = grid.framesForBeats(beats);
            for (int64 k = 0; k < hourBeats; ++k) {
                const int64 phase = grid.loopPhase(grid.beatStart(k), beats, length);
                if (k % beats == 0)
                    ASSERT_EQ(phase, 0) << bpm << " bpm, " << beats << " beats, beat " << k;
                else
                    ASSERT_LE(std::llabs(phase - grid.beatStart(k % beats)), 1) << bpm << " bpm, beat " << k;
            }
            // Frame by frame across a pass boundary far into the song.
            const int64 boundary = grid.beatStart(beats * 300);
            EXPECT_EQ(grid.loopPhase(boundary, beats, length), 0);
            // A pass a frame longer than the loop plays its first frame once more.
            const int64 last = grid.loopPhase(boundary - 1, beats, length);
            EXPECT_TRUE(last == length - 1 || last == length - 2 || last == 0) << last;
            EXPECT_EQ(grid.loopPhase(boundary + 7, beats, length), 7);
        }
    }
}

TEST(BeatGrid, OtherLoopsPlayTheFrameModuloTheirLength)
{
    const BeatGrid grid(110.0);
    struct Case { int64 frame; int64 beats; int64 length; int64 phase; };
    const Case cases[] = {
        { 1000000, 16, 352800, 1000000 % 352800 }, // made at 120 bpm
        { 1000000, 16, 384872, 1000000 % 384872 }, // one frame short of 16 beats
        { -10, 4, 1000, 990 },
        { 5, 0, 1000, 5 },
        { 5, 4, 0, 0 },
    };
    for (const Case& c : cases)
        EXPECT_EQ(grid.loopPhase(c.frame, c.beats, c.length), c.phase) << c.frame << " " << c.length;
}

} // namespace
