#include "synth/synthengine.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace {

struct Call
{
    int frame;
    char kind; // 'n' note on, 'f' note off, 'b' bend
    int value;
    bool operator==(const Call&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Call& c)
{
    return os << "{frame " << c.frame << ", " << c.kind << ", " << c.value << "}";
}

// Records which event ran before which rendered frame.
class RecordingSynthEngine : public SynthEngine
{
public:
    RecordingSynthEngine()
        : SynthEngine(4, 0, 2, "Test", "Vendor", "Effect", 1)
    {
        addProgram(SynthProgram(1));
        addProgram(SynthProgram(1));
        m_calls.reserve(1 << 17);
    }

    void process(float**, float**, int numFrames) override { process(nullptr, numFrames); }
    void process(float*, int numFrames) override
    {
        for (int i = 0; i < numFrames; ++i, ++m_frame)
            dispatchEvents();
    }
    void startNote(int note, int) override { m_calls.push_back({ m_frame, 'n', note }); }
    void stopNote(int note) override { m_calls.push_back({ m_frame, 'f', note }); }
    void setPitchBend(float value) override { m_calls.push_back({ m_frame, 'b', static_cast<int>(value) }); }

    std::vector<Call> m_calls;
    int m_frame = 0;
};

TEST(SynthEngine, CountdownsRunBeforeTheFrameTheyName)
{
    struct Case
    {
        int countdown;
        int frame;
    };
    for (const Case c : { Case { 0, 0 }, Case { 1, 0 }, Case { 2, 1 }, Case { 5, 4 } }) {
        RecordingSynthEngine engine;
        ASSERT_EQ(engine.noteOff(7, c.countdown), 0);
        engine.process(nullptr, 8);
        const std::vector<Call> expected = { { c.frame, 'f', 7 } };
        EXPECT_EQ(engine.m_calls, expected) << "countdown " << c.countdown;
    }
}

TEST(SynthEngine, EachEventKindReachesTheEngine)
{
    RecordingSynthEngine engine;
    engine.noteOn(10, 64, 0);
    engine.pitchBend(3.0f, 0);
    engine.process(nullptr, 2);
    engine.noteOff(10, 0);
    engine.process(nullptr, 1);
    // The bend is due too, but the first pass ends once the note-on has left.
    const std::vector<Call> expected = { { 0, 'n', 10 }, { 1, 'b', 3 }, { 2, 'f', 10 } };
    EXPECT_EQ(engine.m_calls, expected);
}

TEST(SynthEngine, PassStopsEarlyOnceExecutedEntriesHaveLeft)
{
    // The waiting entry goes to the back, the first due entry runs and leaves,
    // and the pass ends before the second due entry; the waiting one skips a
    // count in the next frame for the same reason.
    RecordingSynthEngine engine;
    engine.noteOn(1, 64, 5);
    engine.noteOff(2, 0);
    engine.noteOff(3, 0);
    engine.process(nullptr, 8);
    const std::vector<Call> expected = { { 0, 'f', 2 }, { 1, 'f', 3 }, { 5, 'n', 1 } };
    EXPECT_EQ(engine.m_calls, expected);
}

TEST(SynthEngine, FullQueueDropsNewEvents)
{
    RecordingSynthEngine engine;
    for (int i = 0; i < 200; ++i)
        ASSERT_EQ(engine.noteOn(i, 64, 1000), 0);
    EXPECT_EQ(engine.allNotesOff(), 128 - 56);
    EXPECT_EQ(engine.noteOn(99, 64, 0), -1);

    engine.process(nullptr, 60);
    ASSERT_EQ(engine.m_calls.size(), 56u);
    for (int note = 0; note < 56; ++note)
        EXPECT_EQ(engine.m_calls[note].value, note);
    // Room again once events have run.
    EXPECT_EQ(engine.noteOn(99, 64, 0), 0);
}

TEST(SynthEngine, SetProgramIgnoresIndexesOutsideTheBank)
{
    RecordingSynthEngine engine;
    engine.setProgram(1);
    for (int index : { 2, -1, 1000 }) {
        engine.setProgram(index);
        EXPECT_EQ(engine.currentProgramIndex(), 1) << index;
    }
    engine.setProgram(0);
    EXPECT_EQ(engine.currentProgramIndex(), 0);
}

TEST(SynthEngine, IdentityAndFreeVoices)
{
    RecordingSynthEngine engine;
    EXPECT_STREQ(engine.productName(), "Test");
    EXPECT_EQ(engine.numOutputs(), 2);
    EXPECT_FLOAT_EQ(engine.sampleRate(), 44100.0f);
    EXPECT_FLOAT_EQ(engine.tempo(), 120.0f);
    for (int v = 0; v < engine.numVoices(); ++v)
        EXPECT_EQ(engine.voiceNote(v), -1);
}

TEST(SynthEngine, WriterThreadAndAudioThreadLoseNothingButDrops)
{
    RecordingSynthEngine engine;
    constexpr int kEvents = 100000;
    std::atomic<int> dropped { 0 };
    std::atomic<bool> done { false };
    std::thread writer([&] {
        for (int i = 0; i < kEvents; ++i)
            dropped += engine.noteOn(i, 64, i % 4) != 0;
        done = true;
    });
    while (!done.load())
        engine.process(nullptr, 16);
    writer.join();
    engine.process(nullptr, 16);

    ASSERT_EQ(static_cast<int>(engine.m_calls.size()) + dropped.load(), kEvents);
    std::vector<bool> seen(kEvents, false);
    for (const Call& call : engine.m_calls) {
        EXPECT_FALSE(seen[call.value]) << call.value;
        seen[call.value] = true;
    }
}

} // namespace
