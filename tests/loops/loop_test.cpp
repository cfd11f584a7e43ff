#include "formats/wavewriter.h"
#include "loops/loop.h"
#include "loops/loopaudio.h"
#include "loops/looppool.h"
#include "support/allocationcounter.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>
#include <json/reader.h>

#include <cmath>
#include <set>
#include <vector>

namespace {

// A loop whose frame f holds (f + 1, -(f + 1)) x scale.
std::shared_ptr<Loop> rampLoop(int frames, float scale = 1.0f)
{
    std::vector<float> src(2 * frames);
    for (int f = 0; f < frames; ++f) {
        src[2 * f] = (f + 1) * scale;
        src[2 * f + 1] = -(f + 1) * scale;
    }
    auto loop = std::make_shared<Loop>();
    loop->copyFrom(src.data(), frames, 0);
    return loop;
}

std::vector<float> play(Loop& loop, int frames)
{
    std::vector<float> out(2 * frames, 0.0f);
    loop.process(out.data(), frames);
    return out;
}

TEST(Loop, PlaysAddingAndWrapsAtItsEnd)
{
    auto loop = rampLoop(4);
    std::vector<float> out(12, 0.5f);
    loop->process(out.data(), 6);
    const float expected[] = { 1, 2, 3, 4, 1, 2 };
    for (int f = 0; f < 6; ++f) {
        EXPECT_FLOAT_EQ(out[2 * f], 0.5f + expected[f]) << f;
        EXPECT_FLOAT_EQ(out[2 * f + 1], 0.5f - expected[f]) << f;
    }
    EXPECT_EQ(loop->playPosOffset(), 4);
}

TEST(Loop, ShortenedThenRegrownLoopPlaysItsOldAudio)
{
    auto loop = rampLoop(8);
    ASSERT_EQ(loop->setLength(4), 0);
    EXPECT_EQ(loop->numFrames(), 4);
    EXPECT_EQ(play(*loop, 6)[2 * 4], 1.0f); // wraps at the new length
    ASSERT_EQ(loop->setLength(8), 0);
    loop->setPlayPosOffset(0);
    const std::vector<float> out = play(*loop, 8);
    for (int f = 0; f < 8; ++f)
        EXPECT_FLOAT_EQ(out[2 * f], f + 1.0f);
    // Growing past the buffer keeps everything and adds silence.
    ASSERT_EQ(loop->setLength(10), 0);
    loop->setPlayPosOffset(2 * 7);
    const std::vector<float> grown = play(*loop, 3);
    EXPECT_FLOAT_EQ(grown[0], 8.0f);
    EXPECT_FLOAT_EQ(grown[2], 0.0f);
    EXPECT_EQ(loop->setLength(-1), 1);
    EXPECT_EQ(loop->numFrames(), 10);
}

TEST(Loop, MuteFadesOverExactly4410SamplesAndKeepsThePhase)
{
    std::vector<float> ones(2 * 8000, 1.0f);
    Loop loop;
    loop.copyFrom(ones.data(), 8000, 0);
    loop.setMute(true, false);
    const std::vector<float> out = play(loop, 3000);
    // Rounding of the float steps may leave one more tiny step at the end.
    for (int i = 0; i < 4410; ++i)
        ASSERT_NEAR(out[i], 1.0f - (i + 1) / 4410.0f, 1e-3f) << i;
    for (int i = 4411; i < 6000; ++i)
        ASSERT_EQ(out[i], 0.0f) << i;
    // Muted and steady: nothing mixed, the position still moves.
    EXPECT_EQ(loop.playPosOffset(), 6000);
    const std::vector<float> silent = play(loop, 3000);
    EXPECT_EQ(*std::max_element(silent.begin(), silent.end()), 0.0f);
    EXPECT_EQ(loop.playPosOffset(), 12000 % 16000);
    loop.setMute(false, false);
    const std::vector<float> back = play(loop, 2300);
    EXPECT_NEAR(back[0], 1.0f / 4410, 1e-5f);
    EXPECT_NEAR(back[4409], 1.0f, 1e-3f);
    EXPECT_FLOAT_EQ(back[4411], 1.0f);
}

TEST(Loop, UnmutingAtFullGainAndImmediateMute)
{
    std::vector<float> ones(2 * 100, 1.0f);
    Loop loop;
    loop.copyFrom(ones.data(), 100, 0);
    loop.setMute(true, false);
    loop.setMute(false, false); // the gain never left 1.0: no new fade in
    for (float v : play(loop, 3000))
        ASSERT_FLOAT_EQ(v, 1.0f);
    loop.setMute(true, true);
    for (float v : play(loop, 50))
        ASSERT_EQ(v, 0.0f);
    loop.setMute(false, true);
    for (float v : play(loop, 50))
        ASSERT_FLOAT_EQ(v, 1.0f);
}

// Mute and unmute, with a fade or at once, in any order and at any moment:
// the loop ends in the state the last request asked for, within one fade,
// and a fade that turns back midway goes on from the gain it had reached.
TEST(Loop, TheLastMuteRequestWinsWithinOneFade)
{
    enum Kind { MuteFade, MuteNow, UnmuteFade, UnmuteNow };
    struct Step { Kind kind; int framesAfter; };
    struct Case { const char* what; std::vector<Step> steps; bool muted; };
    const Case cases[] = {
        { "unmuted at once while fading out", { { MuteFade, 500 }, { UnmuteNow, 0 } }, false },
        { "unmuted with a fade while fading out", { { MuteFade, 500 }, { UnmuteFade, 0 } }, false },
        { "muted with a fade while fading in", { { MuteNow, 0 }, { UnmuteFade, 500 }, { MuteFade, 0 } }, true },
        { "muted at once while fading in", { { MuteNow, 0 }, { UnmuteFade, 500 }, { MuteNow, 0 } }, true },
        { "muted and unmuted in one cycle", { { MuteFade, 0 }, { UnmuteFade, 0 } }, false },
        { "three requests in one cycle", { { MuteFade, 0 }, { UnmuteFade, 0 }, { MuteFade, 0 } }, true },
        { "back and forth mid fade", { { MuteFade, 700 }, { UnmuteFade, 300 }, { MuteFade, 100 }, { UnmuteFade, 0 } },
          false },
        { "at once, then a fade", { { MuteNow, 0 }, { UnmuteNow, 0 }, { MuteFade, 0 } }, true },
        { "faded in, then at once", { { MuteNow, 100 }, { UnmuteFade, 100 }, { UnmuteNow, 0 } }, false },
    };
    std::vector<float> ones(2 * 1000, 1.0f);
    for (const Case& c : cases) {
        Loop loop;
        loop.copyFrom(ones.data(), 1000, 0);
        std::vector<float> heard;
        bool sudden = false;
        for (const Step& s : c.steps) {
            sudden = sudden || s.kind == MuteNow || s.kind == UnmuteNow;
            loop.setMute(s.kind == MuteFade || s.kind == MuteNow, s.kind == MuteNow || s.kind == UnmuteNow);
            const std::vector<float> out = play(loop, s.framesAfter);
            heard.insert(heard.end(), out.begin(), out.end());
        }
        const std::vector<float> after = play(loop, 2300); // one whole fade and a little
        heard.insert(heard.end(), after.begin(), after.end());
        EXPECT_EQ(loop.isMuted(), c.muted) << c.what;
        const float expected = c.muted ? 0.0f : 1.0f;
        for (std::size_t i = heard.size() - 100; i < heard.size(); ++i)
            ASSERT_EQ(heard[i], expected) << c.what << ", sample " << i;
        // Only a request made at once may jump; fades move a step at a time.
        for (std::size_t i = 1; !sudden && i < heard.size(); ++i)
            ASSERT_LE(std::fabs(heard[i] - heard[i - 1]), 1.01f / 4410) << c.what << ", sample " << i;
    }
}

TEST(Loop, PlayOncePlaysItsLengthThenStops)
{
    std::vector<float> ones(2 * 100, 1.0f);
    Loop loop;
    loop.copyFrom(ones.data(), 100, 0);
    loop.setPlayMode(1);
    loop.setPlayMode(7); // refused
    std::vector<float> out(2 * 128, 0.0f);
    loop.process(out.data(), 64);
    loop.process(out.data() + 128, 64);
    for (int i = 0; i < 256; ++i)
        ASSERT_EQ(out[i], i < 200 ? 1.0f : 0.0f) << i;
    EXPECT_FALSE(loop.isPlaying());
    EXPECT_EQ(loop.playPosOffset(), 0);
    for (float v : play(loop, 64))
        ASSERT_EQ(v, 0.0f);
}

TEST(Loop, TransportAlignment)
{
    auto loop = rampLoop(100);
    struct Case { double rate; int64 transportSamples; int64 expected; };
    const Case cases[] = {
        { 1.0, 0, 0 }, { 1.0, 150, 150 }, { 1.0, 201, 0 }, { 1.0, 1234567 * 2, (1234567 % 100) * 2 },
        { 0.5, 151, 74 }, // 75.5 -> 75, odd -> 74
        { 1.5, 100, 150 },
    };
    for (const Case& c : cases) {
        loop->setRate(c.rate);
        loop->syncPlayPos(c.transportSamples);
        EXPECT_EQ(loop->playPosOffset(), c.expected) << c.rate << " " << c.transportSamples;
    }
    // While resampling the transport does not move the loop.
    loop->setRate(1.0);
    std::vector<float> out(2 * 16);
    loop->processResampled(out.data(), 16);
    const int64 pos = loop->playPosOffset();
    loop->syncPlayPos(40);
    EXPECT_EQ(loop->playPosOffset(), pos);
    loop->endResampling();
    loop->syncPlayPos(40);
    EXPECT_EQ(loop->playPosOffset(), 40);
}

TEST(Loop, CopyFromContinuesAtTheSourcePhase)
{
    std::vector<float> src(2 * 1000);
    for (int i = 0; i < 2000; ++i)
        src[i] = float(i);
    Loop loop;
    EXPECT_TRUE(loop.isEmpty());
    loop.copyFrom(src.data(), 1000, 2 * 1234 + 1); // past the end and odd
    EXPECT_FALSE(loop.isEmpty());
    EXPECT_EQ(loop.playPosOffset(), 2 * 234);
    EXPECT_FLOAT_EQ(play(loop, 1)[0], 468.0f);
}

// Pieces of every size, over a loop that was longer, shorter or had no
// buffer: the new audio plays from its start and nothing of the old is left.
TEST(Loop, NewAudioReplacesTheWholeOldAudioAndLeavesItUntouched)
{
    struct Case { int oldFrames; int frames; };
    for (const Case c : { Case { 10, 4 }, Case { 3, 7 }, Case { 0, 5 }, Case { 6, 6 }, Case { 8, 0 } }) {
        SCOPED_TRACE(testing::Message() << c.oldFrames << " -> " << c.frames);
        auto loop = c.oldFrames > 0 ? rampLoop(c.oldFrames, 100.0f) : std::make_shared<Loop>();
        loop->setPlayPosOffset(2);
        // Whoever holds the old audio (the undo history, a save) keeps it as it was.
        const std::shared_ptr<const LoopAudio> old = loop->audio();
        const std::shared_ptr<Loop> src = rampLoop(c.frames);
        ASSERT_EQ(loop->setAudio(LoopAudio::copyOf(src->data(), c.frames)), 0);
        EXPECT_EQ(loop->numFrames(), c.frames);
        EXPECT_EQ(loop->playPosOffset(), 0);
        EXPECT_FALSE(loop->isEmpty());
        const int all = std::max(c.oldFrames, c.frames);
        ASSERT_EQ(loop->setLength(all), 0);
        for (int f = 0; f < all; ++f)
            ASSERT_FLOAT_EQ(loop->data()[2 * f + 1], f < c.frames ? -(f + 1.0f) : 0.0f) << f;
        ASSERT_EQ(old != nullptr, c.oldFrames > 0);
        for (int f = 0; f < c.oldFrames; ++f)
            ASSERT_FLOAT_EQ(old->data()[2 * f + 1], -(f + 1.0f) * 100.0f) << f;
    }
    Loop empty;
    EXPECT_EQ(empty.setAudio(nullptr), 1);
    EXPECT_TRUE(empty.isEmpty());
}

TEST(Loop, ZeroLengthLoopIsSilentAtPositionZero)
{
    auto loop = rampLoop(10);
    loop->setPlayPosOffset(6);
    ASSERT_EQ(loop->setLength(0), 0);
    EXPECT_EQ(loop->playPosOffset(), 0);
    std::vector<float> out(20, 0.25f);
    loop->process(out.data(), 10);
    for (float v : out)
        ASSERT_EQ(v, 0.25f);
    loop->syncPlayPos(12345);
    EXPECT_EQ(loop->playPosOffset(), 0);
    loop->copyFrom(nullptr, 0, 7);
    EXPECT_EQ(loop->waveform(), "");
    Loop fresh;
    fresh.process(out.data(), 10);
    EXPECT_EQ(fresh.toJson()["length_seconds"].asDouble(), 0.0);
}

TEST(Loop, WaveformSummary)
{
    struct Case { int frames; float level; std::size_t numbers; };
    const Case cases[] = {
        { 512 * 100, 1.0f, 512 }, // full scale: sqrt(2) x 64 = 90
        { 512 * 100 + 37, 0.1f, 513 },
        { 300, 0.01f, 300 }, // shorter than 512 frames: one number per frame
        { 1, 1.0f, 1 },
        { 512 * 10, 4.0f, 512 }, // beyond full scale: held at two digits
    };
    for (const Case& c : cases) {
        std::vector<float> src(2 * c.frames, c.level);
        Loop loop;
        loop.copyFrom(src.data(), c.frames, 0);
        const std::string w = loop.waveform();
        ASSERT_EQ(w.size(), 2 * c.numbers) << c.frames;
        const std::string first = w.substr(0, 2);
        const char* expected = c.level == 4.0f ? "99" : c.level == 1.0f ? "90" : c.level == 0.1f ? "09" : "00";
        EXPECT_EQ(first, expected) << c.frames;
    }
}

TEST(Loop, JsonAndMuteFromJson)
{
    auto loop = rampLoop(44100);
    Json::Value json = loop->toJson();
    EXPECT_EQ(json["id"].asInt(), loop->id());
    EXPECT_EQ(json["name"].asString(), "my loop");
    EXPECT_FALSE(json["mute"].asBool());
    EXPECT_DOUBLE_EQ(json["length_seconds"].asDouble(), 1.0);
    EXPECT_EQ(json["num_beats"].asInt(), 16);
    EXPECT_EQ(json["notes"].size(), 0u);
    EXPECT_EQ(json["waveform"].asString(), loop->waveform());
    EXPECT_FALSE(loop->waveform().empty());

    TimedMidiEventList notes;
    notes.addEvent(1000, MidiMessage::noteOn(64, 60, 0));
    notes.addEvent(5000, MidiMessage::noteOff(64, 60, 0));
    loop->setNotes(notes);
    json = loop->toJson();
    EXPECT_EQ(json["waveform"].asString(), "");
    EXPECT_EQ(json["notes"][0]["length"].asInt(), 4000);

    Json::Value mute;
    mute["mute"] = true;
    mute["id"] = 999;
    loop->fromJson(mute);
    EXPECT_TRUE(loop->isMuted());
    EXPECT_NE(loop->id(), 999);
    for (const char* bad : { "\"yes\"", "null", "[1]" }) {
        Json::Value v;
        ASSERT_TRUE(Json::Reader().parse(std::string("{\"mute\":") + bad + "}", v));
        loop->fromJson(v);
        EXPECT_TRUE(loop->isMuted()) << bad;
    }
}

TEST(Loop, LoadsWavAtDoubleGain)
{
    TempDir dir;
    std::vector<float> half(2 * 1000);
    for (int i = 0; i < 2000; ++i)
        half[i] = (i % 7 - 3) / 10.0f;
    ASSERT_EQ(writeWav(dir.file("loop0.wav"), half.data(), 2000), 0);
    Loop loop;
    ASSERT_EQ(loop.loadWav(dir.file("loop0.wav")), 0);
    EXPECT_EQ(loop.numFrames(), 1000);
    const std::vector<float> out = play(loop, 1000);
    for (int i = 0; i < 2000; ++i)
        ASSERT_NEAR(out[i], 2.0f * half[i], 2.0f / 32767 * 2) << i;
    EXPECT_EQ(loop.waveform().size(), 2u * 1000);

    EXPECT_EQ(loop.loadWav(dir.file("missing.wav")), 1);
    EXPECT_EQ(loop.numFrames(), 0);
    EXPECT_EQ(loop.data(), nullptr);
    std::vector<float> quiet(20, 0.0f);
    loop.process(quiet.data(), 10);
    EXPECT_EQ(loop.waveform(), "");
}

TEST(Loop, ProcessAllocatesNothing)
{
    auto loop = rampLoop(5000);
    loop->setMute(true, false);
    std::vector<float> out(2 * 4096);
    AllocationCounter counter;
    for (int i = 0; i < 10; ++i) {
        loop->process(out.data(), 4096);
        loop->syncPlayPos(i * 777);
    }
    EXPECT_EQ(counter.count(), 0u);
}

TEST(LoopPool, CollectsLoopsNobodyElseHolds)
{
    LoopPool pool;
    auto held = pool.createLoop();
    const int32 freeId = pool.createLoop()->id();
    ASSERT_EQ(pool.size(), 2u);
    testing::internal::CaptureStdout();
    pool.collectGarbage();
    pool.collectGarbage();
    const std::string log = testing::internal::GetCapturedStdout();
    EXPECT_NE(log.find("erasing " + std::to_string(freeId)), std::string::npos);
    EXPECT_EQ(pool.size(), 1u);
    EXPECT_EQ(pool.getLoop(held->id()), held);

    testing::internal::CaptureStderr();
    EXPECT_EQ(pool.getLoop(freeId), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Failed to find loop with loop id " + std::to_string(freeId) + " in pool.\n");
    held.reset();
    pool.collectGarbage();
    EXPECT_EQ(pool.size(), 0u);
}

// Ids are 15 bits wide: among a few thousand loops some draws collide, and
// each collision is reported and resolved with a fresh id.
TEST(LoopPool, CollidingIdsAreRedrawn)
{
    LoopPool pool;
    std::vector<std::shared_ptr<Loop>> loops;
    testing::internal::CaptureStderr();
    for (int i = 0; i < 3000; ++i)
        loops.push_back(pool.createLoop());
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_NE(log.find("Duplicate loop id detected! New ID: "), std::string::npos);
    EXPECT_NE(log.find("Contents of LoopPool:\n\t"), std::string::npos);
    std::set<int32> ids;
    for (const auto& loop : loops) {
        ASSERT_GE(loop->id(), 0);
        ASSERT_LE(loop->id(), 32767);
        ids.insert(loop->id());
        ASSERT_EQ(pool.getLoop(loop->id()), loop);
    }
    EXPECT_EQ(ids.size(), 3000u);
    EXPECT_EQ(pool.size(), 3000u);
}

} // namespace
