#include "engine/project.h"
#include "engine/recoverycopy.h"
#include "engine/songsnapshot.h"
#include "engine/transport.h"
#include "loops/loopaudio.h"
#include "support/enginetest.h"
#include "support/tempdir.h"

#include "enginefakes.h"

#include <cstring>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <limits>
#include <random>

namespace fs = std::filesystem;

namespace {

// Noise with the awkward values a lossy store would change: the smallest
// normal and denormal floats, negative zero, the loudest values.
FrameValue awkward(unsigned seed)
{
    auto random = std::make_shared<std::mt19937>(seed);
    return [random](int64 k, int) {
        switch (k % 7) {
        case 0: return std::numeric_limits<float>::denorm_min();
        case 1: return -0.0f;
        case 2: return std::numeric_limits<float>::min();
        case 3: return (k & 8) ? 1.0f : -1.0f;
        default: return std::uniform_real_distribution<float>(-1.0f, 1.0f)(*random);
        }
    };
}

TimedMidiEventList twoNotes(int first)
{
    TimedMidiEventList list;
    list.addEvent(0, MidiMessage::noteOn(100, first, 0));
    list.addEvent(250000, MidiMessage::noteOff(0, first, 0));
    list.addEvent(123457, MidiMessage::noteOn(7, first + 4, 3));
    list.addEvent(987654, MidiMessage::noteOff(0, first + 4, 3));
    return list;
}

bool sameBits(const LoopAudio& a, const LoopAudio& b)
{
    return a.frames() == b.frames()
        && std::memcmp(a.data(), b.data(), sizeof(float) * std::size_t(a.frames()) * ZUB_FRAMESIZE) == 0;
}

void expectSameNotes(const TimedMidiEventList& a, const TimedMidiEventList& b, const std::string& what)
{
    ASSERT_EQ(a.events().size(), b.events().size()) << what;
    for (std::size_t i = 0; i < a.events().size(); ++i) {
        const auto& [ta, ma] = a.events()[i];
        const auto& [tb, mb] = b.events()[i];
        EXPECT_EQ(ta, tb) << what << " event " << i;
        EXPECT_EQ(std::make_tuple(ma.status(), ma.data1(), ma.data2()), std::make_tuple(mb.status(), mb.data1(), mb.data2()))
            << what << " event " << i;
    }
}

class RecoveryCopyTest : public EngineTest
{
protected:
    void SetUp() override
    {
        EngineTest::SetUp();
        engine.setJsBridge(&bridge);
    }
    // The song as it stands, with the recorder's content.
    int writeNow(const std::string& name)
    {
        return copy.write(SongSnapshot::take(engine), engine.loopRecorder(), { name, "/songs/" + name + ".zub", 1765400000 });
    }
    std::string recoveredSong()
    {
        RecoveryCopy::Info info;
        return copy.find(info) ? info.song : std::string("(none)");
    }

    RecordingBridge bridge;
    TempDir dir;
    RecoveryCopy copy { dir.file("Recovery") };
};

TEST_F(RecoveryCopyTest, TheSongAndTheRecordersTakeComeBackBitForBit)
{
    engine.setTempo(97.5f);
    Idea* verse = addIdea(engine, "Verse", { makeLoop(engine, 44100, awkward(1)), makeLoop(engine, 1001, awkward(2)) });
    verse->loops()[0]->setNotes(twoNotes(60));
    verse->loops()[1]->setMute(true, true);
    verse->saveLoopStates();
    addIdea(engine, "Nothing yet", {});
    Idea* chorus = addIdea(engine, "Chorus \"loud\"/", { makeLoop(engine, 3, awkward(3)) });
    chorus->loops()[0]->setNumBeats(2);
    engine.ideaCollection()->setActiveIdea(chorus->id());
    LoopRecorder::Content take;
    take.audio = makeLoop(engine, engine.loopRecorder()->lengthFrames(), awkward(4))->audio();
    take.notes = twoNotes(48);
    take.numBeats = engine.loopRecorder()->numBeats();
    engine.loopRecorder()->putContent(take);

    const SongSnapshot before = SongSnapshot::take(engine);
    ASSERT_EQ(writeNow("My Song"), 0) << copy.failure();
    // A save or a new song: nothing of it is left in the engine.
    engine.clearProject();
    engine.setTempo(120.0f);
    engine.loopRecorder()->clear();

    RecoveryCopy::Info info;
    ASSERT_TRUE(copy.find(info));
    EXPECT_EQ(info.song, "My Song");
    EXPECT_EQ(info.document, "/songs/My Song.zub");
    EXPECT_EQ(info.writtenAt, 1765400000);
    RecoveryCopy::Recovered recovered;
    ASSERT_EQ(copy.read(engine.loopPool(), recovered), 0) << copy.failure();
    bridge.clear();
    RecoveryCopy::restore(engine, recovered);

    EXPECT_FLOAT_EQ(Transport::instance().bpm(), 97.5f);
    EXPECT_TRUE(engine.project()->isModified()) << "a recovered song is not saved yet";
    EXPECT_EQ(bridge.count("{ \"idea_collection\" : { \"just_loaded\" : \"true\" } }"), 1);
    const SongSnapshot after = SongSnapshot::take(engine);
    ASSERT_EQ(after.ideas.size(), before.ideas.size());
    for (std::size_t i = 0; i < before.ideas.size(); ++i) {
        const SongSnapshot::IdeaEntry& a = before.ideas[i];
        const SongSnapshot::IdeaEntry& b = after.ideas[i];
        EXPECT_EQ(b.name, a.name);
        EXPECT_EQ(b.active, a.active) << a.name;
        ASSERT_EQ(b.loops.size(), a.loops.size()) << a.name;
        for (std::size_t j = 0; j < a.loops.size(); ++j) {
            const std::string what = a.name + " loop " + std::to_string(j);
            EXPECT_EQ(b.loops[j].frames, a.loops[j].frames) << what;
            EXPECT_TRUE(sameBits(*b.loops[j].audio, *a.loops[j].audio)) << what;
            EXPECT_EQ(b.loops[j].numBeats, a.loops[j].numBeats) << what;
            EXPECT_EQ(b.loops[j].muted, a.loops[j].muted) << what;
            expectSameNotes(*b.loops[j].notes, *a.loops[j].notes, what);
        }
    }
    const LoopRecorder::Content recorder = engine.loopRecorder()->copyContent();
    ASSERT_TRUE(recorder.audio);
    EXPECT_TRUE(sameBits(*recorder.audio, *take.audio));
    EXPECT_EQ(recorder.numBeats, take.numBeats);
    expectSameNotes(recorder.notes, take.notes, "recorder");
    EXPECT_TRUE(engine.loopRecorder()->holdsRecording());
}

// A copy cut short, at either step, leaves the previous one to recover; the
// next copy tidies up after it.
TEST_F(RecoveryCopyTest, ACopyCutShortLeavesThePreviousOneWhole)
{
    addIdea(engine, "Verse", { makeLoop(engine, 500, awkward(5)) });
    const std::string folder = dir.file("Recovery");
    struct Cut { const char* when; std::function<void()> leave; };
    const Cut cuts[] = {
        { "while its files were written", [&] {
              fs::create_directory(folder + ".new");
              std::ofstream(folder + ".new/idea0-loop0.f32") << "half";
          } },
        { "between its two renames", [&] {
              fs::rename(folder, folder + ".old");
              fs::create_directory(folder + ".new");
              std::ofstream(folder + ".new/recovery.json") << "{}";
          } },
    };
    for (const Cut& cut : cuts) {
        ASSERT_EQ(writeNow("First"), 0);
        cut.leave();
        EXPECT_EQ(recoveredSong(), "First") << cut.when;
        RecoveryCopy::Recovered recovered;
        EXPECT_EQ(copy.read(engine.loopPool(), recovered), 0) << cut.when;
        EXPECT_EQ(recovered.song.ideas.size(), 1u) << cut.when;

        ASSERT_EQ(writeNow("Second"), 0) << cut.when;
        EXPECT_EQ(recoveredSong(), "Second") << cut.when;
        EXPECT_FALSE(fs::exists(folder + ".new")) << cut.when;
        EXPECT_FALSE(fs::exists(folder + ".old")) << cut.when;
        copy.remove();
        EXPECT_EQ(recoveredSong(), "(none)") << cut.when;
        EXPECT_TRUE(fs::is_empty(dir.path())) << cut.when;
    }
}

TEST_F(RecoveryCopyTest, AFailedCopyKeepsThePreviousOneAndSaysWhy)
{
    addIdea(engine, "Verse", { makeLoop(engine, 500, awkward(6)) });
    ASSERT_EQ(writeNow("Kept"), 0);
    addIdea(engine, "Long", { makeLoop(engine, 44100, awkward(7)) });

    const int result = underFileSizeLimit(50000, [&] { return writeNow("Lost"); });
    EXPECT_EQ(result, 1);
    EXPECT_EQ(copy.failure(), "File too large");
    EXPECT_EQ(recoveredSong(), "Kept");
    EXPECT_FALSE(fs::exists(dir.file("Recovery.new")));
}

TEST_F(RecoveryCopyTest, ADamagedCopyIsRefusedWithItsReason)
{
    addIdea(engine, "Verse", { makeLoop(engine, 500, awkward(8)) });
    struct Damage { const char* what; std::function<void(const std::string&)> apply; const char* failure; };
    const Damage damages[] = {
        { "a loop file cut short", [](const std::string& f) { fs::resize_file(f + "/idea0-loop0.f32", 100); },
          "a loop file of the copy is missing or damaged" },
        { "a loop file named outside", [](const std::string& f) {
              std::ifstream in(f + "/recovery.json");
              std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
              text.replace(text.find("idea0-loop0.f32"), 15, "../../etc/passwd");
              std::ofstream(f + "/recovery.json") << text;
          }, "a loop file of the copy is missing or damaged" },
        { "an index that is no JSON", [](const std::string& f) { std::ofstream(f + "/recovery.json") << "{ \"ideas\" : ["; },
          "the recovery copy is damaged" },
    };
    for (const Damage& damage : damages) {
        ASSERT_EQ(writeNow("Song"), 0);
        damage.apply(copy.folder());
        RecoveryCopy::Recovered recovered;
        EXPECT_EQ(copy.read(engine.loopPool(), recovered), 1) << damage.what;
        EXPECT_EQ(copy.failure(), damage.failure) << damage.what;
    }
}

} // namespace
