// The road of a loop through the engine: notes and audio captured by the
// loop recorder become a loop of the first idea, phase-locked to the transport.
#include "engine/drumloopcollection.h"
#include "engine/project.h"
#include "engine/projectfile.h"
#include "engine/transport.h"
#include "engine/zubapi.h"
#include "engine/zubengine.h"
#include "loops/idea.h"
#include "loops/ideacollection.h"
#include "loops/loop.h"
#include "loops/looprecorder.h"
#include "formats/wavewriter.h"
#include "support/enginetest.h"
#include "support/tempdir.h"

#include "enginefakes.h"

#include <gtest/gtest.h>
#include <json/reader.h>
#include <json/writer.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sys/wait.h>

#include <vector>

namespace {

// What the instrument would play at transport frame t.
float signal(int64 t)
{
    return float(t % 1000 + 1) / 1000.0f;
}

class LoopPathTest : public EngineTest
{
protected:
    Json::Value parse(const std::string& text)
    {
        Json::Value v;
        EXPECT_TRUE(Json::Reader().parse(text, v)) << text;
        return v;
    }
    // Cycles of n frames; while feeding, the recorder takes the signal at the
    // transport position as the instrument's output (no instrument here).
    void run(int64 frames, bool feed, int n = 512)
    {
        std::vector<float> in(2 * n), out(2 * n);
        for (int64 done = 0; done < frames; done += n) {
            const int64 t = Transport::instance().position();
            for (int k = 0; k < n; ++k)
                in[2 * k] = in[2 * k + 1] = signal(t + k);
            if (feed)
                engine.loopRecorder()->record(in.data(), n);
            engine.process(out.data(), n);
        }
    }
    // Something audible in the recorder, kept as a loop.
    void keep()
    {
        engine.loopRecorder()->setRecord(true);
        run(512, true);
        engine.loopRecorder()->setRecord(false);
        send("createLoopFromLoopRecorder");
    }
};

TEST_F(LoopPathTest, RecordedLoopJoinsTheFirstIdeaInPhaseWithTheTransport)
{
    const int64 n = engine.loopRecorder()->lengthFrames();
    ASSERT_EQ(n, 352800);
    EXPECT_EQ(send("{ \"loop_recorder\" : { \"record\" : true } }"), "");
    run(512, true);
    send("noteOn->60");
    run(20000, true);
    send("noteOff->60");
    run(n - 20512, true);
    EXPECT_EQ(send("{ \"loop_recorder\" : { \"record\" : false } }"), "");
    run(777 * 3, false); // the transport moves on past the recorded pass

    EXPECT_FALSE(engine.project()->isModified());
    EXPECT_EQ(send("createLoopFromLoopRecorder"), "");
    EXPECT_TRUE(engine.project()->isModified());
    ASSERT_EQ(engine.ideaCollection()->ideas().size(), 1u);
    Idea* idea = engine.ideaCollection()->activeIdea();
    ASSERT_NE(idea, nullptr);
    ASSERT_EQ(idea->loops().size(), 1u);
    const std::shared_ptr<Loop> loop = idea->loops()[0];
    EXPECT_EQ(loop->numFrames(), n);
    EXPECT_EQ(loop->numBeats(), 16);
    const auto events = loop->notes().events();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].second, MidiMessage::noteOn(64, 60, 0));
    EXPECT_EQ(events[1].second, MidiMessage::noteOff(64, 60, 0));
    // The recorder starts over.
    EXPECT_TRUE(engine.loopRecorder()->events().events().empty());

    // From the next cycles on the loop plays frame (transport mod length).
    for (int block = 0; block < 5; ++block) {
        run(333, false, 333);
        const int64 t = Transport::instance().position();
        ASSERT_EQ(loop->playPosOffset(), 2 * (t % n));
        ASSERT_FLOAT_EQ(loop->data()[2 * (t % n)], signal(t % n));
    }
    std::vector<float> out(2 * 64);
    engine.process(out.data(), 64);
    EXPECT_NE(out[0], 0.0f);

    // The emptied recorder has nothing to keep; what is recorded next joins the same idea.
    EXPECT_EQ(send("getLoopRecorder").find("\"empty\" : true") != std::string::npos, true);
    EXPECT_EQ(send("createLoopFromLoopRecorder"), "");
    EXPECT_EQ(idea->loops().size(), 1u);
    keep();
    EXPECT_EQ(engine.ideaCollection()->ideas().size(), 1u);
    EXPECT_EQ(idea->loops().size(), 2u);
}

TEST_F(LoopPathTest, CloneMuteSwitchAndTheReplyFieldByField)
{
    run(1024, false);
    keep();
    keep();
    Idea* verse = engine.ideaCollection()->activeIdea();
    const auto loops = verse->loops();

    const Json::Value cloned = parse(send("cloneIdea:" + std::to_string(verse->id())));
    ASSERT_EQ(cloned["idea_collection"]["ideas"].size(), 2u);
    const int cloneId = cloned["idea_collection"]["active_idea_id"].asInt();
    EXPECT_EQ(cloned["idea_collection"]["ideas"][1]["id"].asInt(), cloneId);
    EXPECT_EQ(cloned["idea_collection"]["ideas"][1]["name"].asString(), "A New Idea 2");

    // Mute the second loop in the clone, then switch back: it fades in again.
    const std::string mute = "{ \"idea_collection\" : { \"ideas\" : [ { \"id\" : " + std::to_string(cloneId)
        + ", \"loops\" : [ { \"id\" : " + std::to_string(loops[1]->id()) + ", \"mute\" : true } ] } ] } }";
    EXPECT_EQ(send(mute), "");
    EXPECT_TRUE(loops[1]->isMuted());
    EXPECT_EQ(send("{ \"idea_collection\" : { \"active_idea_id\" : " + std::to_string(verse->id()) + " } }"), "");
    EXPECT_FALSE(loops[1]->isMuted());
    send("{ \"idea_collection\" : { \"active_idea_id\" : " + std::to_string(cloneId) + " } }");
    EXPECT_TRUE(loops[1]->isMuted());

    const Json::Value reply = parse(send("getIdeaCollection"));
    ASSERT_EQ(reply.getMemberNames(), std::vector<std::string> { "idea_collection" });
    const Json::Value& c = reply["idea_collection"];
    EXPECT_EQ(c.getMemberNames(), (std::vector<std::string> { "active_idea_id", "ideas", "stopped", "test" }));
    EXPECT_EQ(c["active_idea_id"].asInt(), cloneId);
    EXPECT_EQ(c["test"].asString(), "foobar");
    const std::vector<Idea*> ideas = engine.ideaCollection()->ideas();
    for (Json::ArrayIndex i = 0; i < 2; ++i) {
        const Json::Value& idea = c["ideas"][i];
        EXPECT_EQ(idea.getMemberNames(), (std::vector<std::string> { "active", "id", "loops", "mute", "name" }));
        EXPECT_EQ(idea["id"].asInt(), ideas[i]->id());
        EXPECT_EQ(idea["name"].asString(), ideas[i]->name());
        EXPECT_EQ(idea["active"].asBool(), i == 1);
        EXPECT_FALSE(idea["mute"].asBool());
        ASSERT_EQ(idea["loops"].size(), 2u);
        for (Json::ArrayIndex j = 0; j < 2; ++j) {
            const Json::Value& loop = idea["loops"][j];
            EXPECT_EQ(loop.getMemberNames(), (std::vector<std::string> {
                                                 "id", "length_seconds", "mute", "name", "notes", "num_beats",
                                                 "waveform" }));
            EXPECT_EQ(loop["id"].asInt(), loops[j]->id());
            EXPECT_EQ(loop["name"].asString(), "my loop");
            EXPECT_EQ(loop["mute"].asBool(), i == 1 && j == 1) << i << j;
            EXPECT_DOUBLE_EQ(loop["length_seconds"].asDouble(), 8.0);
            EXPECT_EQ(loop["num_beats"].asInt(), 16);
            EXPECT_TRUE(loop["notes"].isArray());
            EXPECT_EQ(loop["waveform"].asString(), loops[j]->waveform());
            EXPECT_EQ(loop["waveform"].asString().size(), 1026u); // 352,800 frames: 513 blocks
        }
    }
    EXPECT_EQ(send("cloneIdea:4242424"), send("getIdeaCollection")); // unknown id: state only
}

TEST_F(LoopPathTest, ClearProjectKeepsTheTempoAndDropsIdeasAndLoops)
{
    int cleared = 0;
    std::vector<bool> modified;
    engine.project()->setClearedNotification([&] { ++cleared; });
    send("setTempo->90");
    keep();
    engine.project()->setModifiedNotification([&](bool m) { modified.push_back(m); });
    std::weak_ptr<Loop> loop = engine.ideaCollection()->activeIdea()->loops()[0];
    const int64 guid = engine.project()->guid();
    EXPECT_EQ(send("clearProject"), "");
    EXPECT_EQ(cleared, 1);
    EXPECT_EQ(modified, std::vector<bool> { false });
    EXPECT_TRUE(engine.ideaCollection()->ideas().empty());
    EXPECT_TRUE(loop.expired());
    EXPECT_DOUBLE_EQ(engine.project()->bpm(), 90.0);
    EXPECT_FLOAT_EQ(Transport::instance().bpm(), 90.0f);
    EXPECT_GE(engine.project()->guid(), -32767);
    EXPECT_LE(engine.project()->guid(), 0);
    (void)guid;
}

TEST_F(LoopPathTest, TempoResizesTheRecorderAndRecorderCommandsAnswer)
{
    send("setTempo->100");
    EXPECT_EQ(engine.loopRecorder()->lengthFrames() * 2, 846720);
    EXPECT_DOUBLE_EQ(engine.project()->bpm(), 100.0);
    send("setTempo->300"); // refused: nothing changes
    EXPECT_EQ(engine.loopRecorder()->lengthFrames() * 2, 846720);
    EXPECT_EQ(send("{ \"loop_recorder\" : { \"beats\" : 3 } }"), "");
    EXPECT_EQ(engine.loopRecorder()->numBeats(), 16);
    const Json::Value state = parse(send("getLoopRecorder"));
    EXPECT_EQ(state["loop_recorder"]["num_beats"].asInt(), 16);
    EXPECT_DOUBLE_EQ(state["loop_recorder"]["length_seconds"].asDouble(), 846720 / 2 / 44100.0);
}

// Notes sit where the recorder's audio was at the frame they were played,
// counted on the audio clock: here the engine runs far faster than real
// time, and the transport jumps (a render, a save, a drum loop that starts
// the song again) without moving a note, before or after.
TEST_F(LoopPathTest, NotesAreStampedWithTheAudioPositionTheyWerePlayedAt)
{
    TempDir dir;
    std::vector<float> drums(2 * 88200, 0.25f);
    ASSERT_EQ(writeWav(dir.file("120 4 Beat.wav"), drums.data(), int(drums.size())), 0);
    engine.drumLoopCollection()->scan(dir.path().string());
    addIdea(engine, "Song", { makeLoop(engine, 4410, constant(0.1f)) });
    const int64 length = engine.loopRecorder()->lengthFrames();
    send("{ \"loop_recorder\" : { \"record\" : true } }");

    struct Played { int note; int64 on; int64 off; };
    std::vector<Played> played;
    auto play = [&](int note) {
        const int64 on = Transport::instance().position();
        send("noteOn->" + std::to_string(note));
        run(5120, false);
        played.push_back({ note, on, Transport::instance().position() });
        send("noteOff->" + std::to_string(note));
        run(512, false);
    };
    run(100000, false);
    play(60);
    ASSERT_EQ(engine.renderToJs(), 0);
    play(61);
    ASSERT_EQ(ProjectFile(&engine).save(dir.file("song.zub")), 0);
    run(2048, false);
    play(62);
    ASSERT_EQ(engine.loadDrumLoopByName("120 4 Beat.wav"), 0);
    engine.playDrumLoop();
    run(4096, false);
    play(63);

    // In frames: a note is stamped within the cycle it was played in.
    const Json::Value notes = engine.loopRecorder()->events().toJson();
    ASSERT_EQ(notes.size(), played.size());
    auto frames = [](const Json::Value& us) { return double(us.asInt64()) / ZUB_MICROSECONDS_PER_FRAME; };
    for (const Played& p : played) {
        SCOPED_TRACE(p.note);
        Json::Value note;
        for (const Json::Value& n : notes)
            if (n["note"].asInt() == p.note)
                note = n;
        ASSERT_TRUE(note.isObject());
        EXPECT_NEAR(frames(note["time"]), double(p.on % length), 512.5);
        EXPECT_NEAR(frames(note["length"]), double(p.off - p.on), 512.5);
    }
}

// A key held when a loop is kept or recording stops ends at the loop's end;
// still down after the recorder wrapped, it goes on there from 0.
TEST_F(LoopPathTest, NotesHeldWhenALoopIsKeptOrRecordingStopsEndAtTheLoopEnd)
{
    const int64 length = engine.loopRecorder()->lengthFrames();
    const int64 endUs = int64(length * ZUB_MICROSECONDS_PER_FRAME) - 1;
    send("{ \"loop_recorder\" : { \"record\" : true } }");
    run(10240, false);
    send("noteOn->60");
    run(10240, false);
    send("createLoopFromLoopRecorder");
    run(length, false);
    send("noteOff->60"); // a pass later
    send("noteOn->62");
    run(10240, false);
    send("{ \"loop_recorder\" : { \"record\" : false } }");
    send("noteOff->62");
    send("createLoopFromLoopRecorder");

    const std::vector<std::shared_ptr<Loop>> loops = engine.ideaCollection()->activeIdea()->loops();
    ASSERT_EQ(loops.size(), 2u);
    for (const auto& loop : loops) {
        TimedMidiEventList closed = loop->notes();
        closed.closeOpenNotes(endUs + 1);
        EXPECT_EQ(closed.events().size(), loop->notes().events().size()) << "no note left open";
    }
    const Json::Value first = loops[0]->notes().toJson();
    ASSERT_EQ(first.size(), 1u);
    EXPECT_EQ(first[0]["time"].asInt64() + first[0]["length"].asInt64(), endUs);
    const Json::Value second = loops[1]->notes().toJson();
    ASSERT_EQ(second.size(), 2u);
    EXPECT_EQ(second[0]["note"].asInt(), 60);
    EXPECT_EQ(second[0]["time"].asInt64(), 0);
    EXPECT_NEAR(double(second[0]["length"].asInt64()), 20480 * ZUB_MICROSECONDS_PER_FRAME, 1024 * ZUB_MICROSECONDS_PER_FRAME);
    EXPECT_EQ(second[1]["note"].asInt(), 62);
    EXPECT_EQ(second[1]["time"].asInt64() + second[1]["length"].asInt64(), endUs);
}

// An idea played into the recorder (a note held when its loop is kept, a
// note wrapped over the end of a 4-beat loop that repeats under a 16-beat
// one, at a tempo whose beats are not whole frames) is exported, and mido,
// a reader Motifo did not write, checks the file against the engine's own
// notes. A note moved by a few ticks in what the engine reports is caught.
TEST_F(LoopPathTest, AnExportedIdeaReadsTheSameInAnotherReader)
{
    ASSERT_EQ(engine.setTempo(110.0f), 0);
    send("{ \"loop_recorder\" : { \"record\" : true } }");
    run(30208, false);
    send("noteOn->60");
    run(40448, false);
    send("noteOff->60");
    run(10240, false);
    send("noteOn->62");
    run(20480, false);
    send("createLoopFromLoopRecorder"); // 62 still held
    send("noteOff->62");
    send("{ \"loop_recorder\" : { \"beats\" : 4 } }");
    const int64 length = engine.loopRecorder()->lengthFrames();
    run(length - 5120 - int64(engine.loopRecorder()->posSamples() / 2), false);
    send("noteOn->64");
    run(10240, false);
    send("noteOff->64"); // wrapped over the loop's end
    run(2048, false);
    send("noteOn->65");
    run(4096, false);
    send("noteOff->65");
    send("createLoopFromLoopRecorder");

    TempDir dir;
    ProjectFile file(&engine);
    ASSERT_EQ(file.saveMidi(dir.path().string()), 0);
    const std::string mid = dir.file(file.ideaFileNames().at(0) + ".mid");
    Json::Value idea = parse(send("getIdeaCollection"))["idea_collection"]["ideas"][0];
    ASSERT_EQ(idea["loops"].size(), 2u);
    ASSERT_EQ(idea["loops"][1]["notes"].size(), 3u); // the wrapped note counts twice
    auto check = [&](const Json::Value& notes) {
        std::ofstream(dir.file("idea.json")) << notes;
        const std::string command = "/usr/bin/python3 '" MOTIFO_SOURCE_DIR "/tests/formats/midicheck.py' '" + mid
            + "' '" + dir.file("idea.json") + "' > '" + dir.file("check.txt") + "' 2>&1";
        const int status = std::system(command.c_str());
        std::ifstream in(dir.file("check.txt"));
        const std::string said((std::istreambuf_iterator<char>(in)), {});
        return std::make_pair(WIFEXITED(status) ? WEXITSTATUS(status) : -1, said);
    };
    const auto [rc, said] = check(idea);
    EXPECT_EQ(rc, 0) << said << "(python3-mido is installed by scripts/deps)";
    idea["loops"][1]["notes"][1]["time"] = idea["loops"][1]["notes"][1]["time"].asInt64() + 3000;
    EXPECT_EQ(check(idea).first, 1) << "a note three ticks off";
}

TEST_F(LoopPathTest, CycleWithIdeasAndRecordingAllocatesNothing)
{
    keep();
    keep();
    send("{ \"loop_recorder\" : { \"record\" : true } }");
    EXPECT_EQ(cycleAllocations(engine), 0u);
}

} // namespace
