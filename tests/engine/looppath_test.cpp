// The road of a loop through the engine: notes and audio captured by the
// loop recorder become a loop of the first idea, phase-locked to the transport.
#include "engine/project.h"
#include "engine/transport.h"
#include "engine/zubapi.h"
#include "engine/zubengine.h"
#include "loops/idea.h"
#include "loops/ideacollection.h"
#include "loops/loop.h"
#include "loops/looprecorder.h"
#include "support/enginetest.h"

#include <gtest/gtest.h>
#include <json/reader.h>

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

TEST_F(LoopPathTest, CycleWithIdeasAndRecordingAllocatesNothing)
{
    keep();
    keep();
    send("{ \"loop_recorder\" : { \"record\" : true } }");
    EXPECT_EQ(cycleAllocations(engine), 0u);
}

} // namespace
