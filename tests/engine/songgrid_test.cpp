// Ten minutes of a song on one beat grid: a drum loop re-timed to the song's
// tempo, a loop kept from the recorder and the click, in engine time (far
// faster than real time) over callbacks of changing sizes.
#include "engine/drumloopcollection.h"
#include "engine/drumloopplayer.h"
#include "engine/metronome.h"
#include "engine/transport.h"
#include "formats/wavewriter.h"
#include "loops/idea.h"
#include "loops/ideacollection.h"
#include "loops/loop.h"
#include "loops/looprecorder.h"
#include "support/enginetest.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <set>
#include <vector>

namespace {

class SongGridTest : public EngineTest
{
protected:
    // The frames at which each loop's first frame is played, and the click
    // onsets heard in the output; over `seconds` of engine time.
    void play(double seconds, const std::vector<std::shared_ptr<Loop>>& loops)
    {
        const int64 total = int64(seconds * ZUB_SAMPLE_RATE);
        std::vector<float> buf;
        int size = 1;
        int64 lastOnset = -100000;
        for (int64 done = 0; done < total;) {
            const int n = int(std::min<int64>(size, total - done));
            const int64 start = Transport::instance().position();
            std::vector<int64> before;
            for (const auto& loop : loops)
                before.push_back(loop->playPosOffset() / ZUB_FRAMESIZE);
            buf.assign(std::size_t(2 * n), 0.0f);
            engine.process(buf.data(), n);
            for (std::size_t i = 0; i < loops.size(); ++i) {
                const int64 length = loops[i]->numFrames();
                const int64 played = before[i] + n;
                // The last start is left out: its click would come after the end.
                if (played >= length && start + length - before[i] < total - n)
                    starts[i].push_back(start + length - before[i]);
                // Between cycles a loop moves on by what it played, or by
                // one frame where a pass of the grid is a frame longer or shorter.
                const int64 now = loops[i]->playPosOffset() / ZUB_FRAMESIZE;
                const int64 jump = std::llabs(now - played % length);
                ASSERT_LE(std::min(jump, length - jump), 1) << "loop " << i << " jumped at frame " << start;
            }
            // Only the click sounds (the loops are silent): it crosses the
            // threshold a few frames into its beat, after the master bus.
            for (int k = 0; k < n; ++k) {
                if (std::fabs(buf[std::size_t(2 * k)]) > 1e-3f && start + k - lastOnset > 1000) {
                    lastOnset = start + k;
                    onsets.insert(lastOnset);
                }
            }
            done += n;
            size = size * 3 % 997 + 1;
        }
    }

    // A note played into the recorder: kept, it makes a loop, and with no
    // instrument loaded the loop stays silent, so only the click is heard.
    int keepANote()
    {
        engine.loopRecorder()->setRecord(true);
        engine.noteOn(60, 100);
        engine.noteOff(60);
        engine.loopRecorder()->setRecord(false);
        return engine.createLoopFromLoopRecorder();
    }

    std::vector<int64> starts[3];
    std::set<int64> onsets;
};

// A loop kept before the drum loop (4 beats), the drum loop (a 90 bpm file
// re-timed to the song's tempo) and a loop kept after it (16 beats): every
// pass of each starts on a click, within one frame, for ten minutes; also at
// a tempo whose beats are not whole frames.
TEST_F(SongGridTest, EveryLoopStartFallsOnAClickForTenMinutes)
{
    const char* const names[] = { "loop kept before", "drum loop", "loop kept after" };
    for (float bpm : { 120.0f, 113.7f }) {
        SCOPED_TRACE(bpm);
        EngineTest::SetUp();
        for (auto& s : starts)
            s.clear();
        onsets.clear();
        TempDir dir;
        std::vector<float> silence(2 * 235200, 0.0f);
        ASSERT_EQ(writeWav(dir.file("90 8 Groove.wav"), silence.data(), int(silence.size())), 0);
        engine.drumLoopCollection()->scan(dir.path().string());
        engine.clearProject();
        ASSERT_EQ(engine.setTempo(bpm), 0);
        ASSERT_EQ(engine.loopRecorder()->setNumBeats(4), 0);
        ASSERT_EQ(keepANote(), 0);
        ASSERT_EQ(engine.loadDrumLoopByName("90 8 Groove.wav"), 0);
        engine.playDrumLoop();
        ASSERT_EQ(engine.loopRecorder()->setNumBeats(16), 0);
        ASSERT_EQ(keepANote(), 0);
        const std::vector<std::shared_ptr<Loop>> loops = engine.ideaCollection()->activeIdea()->loops();
        ASSERT_EQ(loops.size(), 3u);
        ASSERT_EQ(loops[1], engine.drumLoopPlayer()->loop());
        Json::Value unmute;
        unmute["metronome"]["mute"] = false;
        engine.metronome()->handleJson(unmute);

        play(600.0, loops);
        if (HasFatalFailure())
            return;

        // The transport started at 0 with the re-timing: the first click is
        // frame 0's, and its onset tells how late the master bus shows it.
        ASSERT_FALSE(onsets.empty());
        const int64 lag = *onsets.begin();
        ASSERT_LT(lag, 20);
        EXPECT_GT(onsets.size(), std::size_t(600 * bpm / 60) - 2);
        for (int i = 0; i < 3; ++i) {
            EXPECT_GT(starts[i].size(), 30u) << names[i];
            for (int64 s : starts[i]) {
                const auto near = onsets.lower_bound(s + lag - 1);
                ASSERT_TRUE(near != onsets.end() && *near <= s + lag + 1)
                    << names[i] << " starts at frame " << s << ", off the click";
            }
        }
    }
}

} // namespace
