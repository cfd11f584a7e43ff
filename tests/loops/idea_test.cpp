#include "engine/project.h"
#include "formats/midiwriter.h"
#include "formats/wavewriter.h"
#include "loops/idea.h"
#include "loops/ideacollection.h"
#include "loops/loop.h"
#include "loops/looppool.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <vector>

namespace {

class IdeaTest : public ::testing::Test
{
protected:
    // A loop of constant level, held by the pool.
    std::shared_ptr<Loop> constantLoop(float level, int frames = 10000)
    {
        std::vector<float> src(2 * frames, level);
        auto loop = pool.createLoop();
        loop->copyFrom(src.data(), frames, 0);
        return loop;
    }
    std::vector<float> play(int frames)
    {
        std::vector<float> out(2 * frames, 0.0f);
        ideas.process(out.data(), frames);
        return out;
    }
    Idea* addIdea(const std::string& name)
    {
        Idea* idea = new Idea(&pool);
        idea->setName(name);
        ideas.addIdea(idea);
        return idea;
    }
    Json::Value command(const Json::Value& collection)
    {
        Json::Value root;
        root["idea_collection"] = collection;
        return root;
    }
    Json::Value ideaElement(int id)
    {
        Json::Value element;
        element["id"] = id;
        Json::Value c;
        c["ideas"].append(element);
        return c;
    }

    LoopPool pool;
    Project project;
    IdeaCollection ideas { &pool, [this] { project.setModified(true); } };
};

TEST(IdeaCloneName, NumbersTheClone)
{
    const std::pair<const char*, const char*> cases[] = {
        { "Chorus", "Chorus 2" }, { "Chorus 2", "Chorus 3" }, { "A New Idea", "A New Idea 2" },
        { "A New Idea 9", "A New Idea 10" }, { "Verse  2", "Verse 3" }, { "7", "7 2" }, { "Take 2b", "Take 3" },
        { "Part -1", "Part -1 2" }, { "", " 2" }, { "Big 99999999999999999999", "Big 99999999999999999999 2" },
    };
    for (const auto& [name, clone] : cases)
        EXPECT_EQ(IdeaCollection::cloneName(name), clone) << name;
}

TEST_F(IdeaTest, FirstIdeaBecomesActiveAndMarksTheProject)
{
    int notified = 0;
    project.setModifiedNotification([&](bool m) { notified += m; });
    Idea* first = addIdea("A");
    Idea* second = addIdea("B");
    EXPECT_EQ(ideas.activeIdea(), first);
    EXPECT_NE(first->id(), second->id());
    EXPECT_NE(first->id(), 0);
    EXPECT_EQ(notified, 2);
    EXPECT_TRUE(project.isModified());
}

TEST_F(IdeaTest, ANewLoopMakesTheFirstIdeaOnlyWhenThereIsNone)
{
    Idea* made = ideas.activeIdeaMadeIfNone();
    ASSERT_NE(made, nullptr);
    EXPECT_EQ(ideas.ideas().size(), 1u);
    EXPECT_EQ(ideas.activeIdea(), made);
    EXPECT_TRUE(project.isModified());
    EXPECT_EQ(ideas.activeIdeaMadeIfNone(), made);
    EXPECT_EQ(ideas.ideas().size(), 1u);

    Idea* second = addIdea("B");
    ASSERT_EQ(ideas.setActiveIdea(second->id()), 0);
    EXPECT_EQ(ideas.activeIdeaMadeIfNone(), second);
    EXPECT_EQ(ideas.ideas().size(), 2u);
}

TEST_F(IdeaTest, OnlyTheActiveIdeaPlays)
{
    Idea* a = addIdea("A");
    Idea* b = addIdea("B");
    a->addLoop(constantLoop(0.25f));
    b->addLoop(constantLoop(0.5f));
    EXPECT_FLOAT_EQ(play(4)[0], 0.25f);
    EXPECT_EQ(ideas.setActiveIdea(b->id()), 0);
    EXPECT_FLOAT_EQ(play(4)[0], 0.5f);
    EXPECT_EQ(ideas.setActiveIdea(12345 == a->id() ? 12346 : 12345), 1); // no such idea: refused
    EXPECT_EQ(ideas.activeIdeaId(), b->id());
}

TEST_F(IdeaTest, DeletingChoosesTheNeighbour)
{
    struct Case { int numIdeas; int deleted; int active; int expectedActive; };
    const Case cases[] = { { 3, 0, 0, 1 }, { 3, 2, 2, 1 }, { 3, 1, 2, 0 }, { 3, 2, 0, 1 }, { 1, 0, 0, -1 } };
    for (const Case& c : cases) {
        ideas.clearAll();
        std::vector<int> ids;
        for (int i = 0; i < c.numIdeas; ++i)
            ids.push_back(addIdea("I")->id());
        ideas.setActiveIdea(ids[c.active]);
        Json::Value msg = ideaElement(ids[c.deleted]);
        msg["ideas"][0]["_destroy"] = true;
        EXPECT_TRUE(ideas.handleJson(command(msg)));
        EXPECT_EQ(ideas.ideas().size(), std::size_t(c.numIdeas - 1));
        EXPECT_EQ(ideas.activeIdeaId(), c.expectedActive < 0 ? 0 : ids[c.expectedActive]) << c.deleted;
    }
    // Unknown ids and arrays of two change nothing.
    const int id = addIdea("X")->id();
    Json::Value unknown = ideaElement(id + 1);
    unknown["ideas"][0]["_destroy"] = true;
    EXPECT_FALSE(ideas.handleJson(command(unknown)));
    Json::Value two = ideaElement(id);
    two["ideas"][0]["_destroy"] = true;
    two["ideas"].append(two["ideas"][0]);
    EXPECT_FALSE(ideas.handleJson(command(two)));
    EXPECT_EQ(ideas.ideas().size(), 1u);
}

TEST_F(IdeaTest, CloneSharesLoopsAndEachIdeaKeepsItsMutePattern)
{
    Idea* verse = addIdea("Verse");
    auto l1 = constantLoop(0.25f), l2 = constantLoop(0.5f);
    verse->addLoop(l1);
    verse->addLoop(l2);
    addIdea("Outro");
    EXPECT_EQ(ideas.cloneIdea(verse->id()), 0);
    const std::vector<Idea*> list = ideas.ideas();
    ASSERT_EQ(list.size(), 3u);
    Idea* clone = list[1];
    EXPECT_EQ(clone->name(), "Verse 2");
    EXPECT_EQ(ideas.activeIdea(), clone);
    EXPECT_EQ(clone->loops(), verse->loops());

    // Mute l2 in the clone.
    Json::Value loopEntry;
    loopEntry["id"] = l2->id();
    loopEntry["mute"] = true;
    Json::Value edit = ideaElement(clone->id());
    edit["ideas"][0]["loops"].append(loopEntry);
    ideas.handleJson(command(edit));
    play(3000);
    EXPECT_FLOAT_EQ(play(1)[0], 0.25f);

    // Back to the verse: l2 fades in again over 50 ms.
    ideas.setActiveIdea(verse->id());
    const std::vector<float> in = play(2300);
    EXPECT_NEAR(in[0], 0.25f + 0.5f / 4410, 1e-4f);
    EXPECT_NEAR(in[2 * 1100], 0.25f + 0.5f * 2201 / 4410, 1e-3f);
    EXPECT_FLOAT_EQ(in[2 * 2299], 0.75f);
    // And the clone's pattern comes back with it.
    ideas.setActiveIdea(clone->id());
    play(3000);
    EXPECT_TRUE(l2->isMuted());
    EXPECT_FLOAT_EQ(play(1)[0], 0.25f);

    // The JSON reports each idea's own pattern.
    Json::Value root;
    ideas.toJson(root);
    EXPECT_FALSE(root["idea_collection"]["ideas"][0]["loops"][1]["mute"].asBool());
    EXPECT_TRUE(root["idea_collection"]["ideas"][1]["loops"][1]["mute"].asBool());
}

TEST_F(IdeaTest, CloningAnIdeaThatIsNotPlayingKeepsItsOwnPattern)
{
    Idea* a = addIdea("A");
    auto loop = constantLoop(0.5f);
    a->addLoop(loop);
    Idea* b = new Idea(*a);
    ideas.addIdea(b);
    ideas.setActiveIdea(b->id());
    loop->setMute(true, true); // b mutes it
    ideas.setActiveIdea(a->id());
    ideas.setActiveIdea(b->id()); // b's pattern saved: muted; a's: unmuted
    ideas.cloneIdea(a->id());
    Idea* clone = ideas.activeIdea();
    ASSERT_NE(clone, b);
    EXPECT_FALSE(clone->toJson()["loops"][0]["mute"].asBool());
    play(3000);
    EXPECT_FALSE(loop->isMuted());
    EXPECT_EQ(ideas.cloneIdea(-5), 1);
}

TEST_F(IdeaTest, RemovedLoopFadesOutOver300msAndIsCollected)
{
    Idea* idea = addIdea("A");
    auto kept = constantLoop(0.25f, 40000);
    auto removed = constantLoop(0.5f, 40000);
    idea->addLoop(kept);
    idea->addLoop(removed);
    const int removedId = removed->id();
    Json::Value entry;
    entry["id"] = removedId;
    entry["_destroy"] = true;
    Json::Value edit = ideaElement(idea->id());
    edit["ideas"][0]["loops"].append(entry);
    removed.reset();
    ideas.handleJson(command(edit));
    EXPECT_EQ(idea->loops().size(), 1u);
    EXPECT_EQ(idea->numFadingLoops(), 1u);
    EXPECT_EQ(pool.size(), 2u); // still fading: not collected

    const std::vector<float> out = play(14000);
    EXPECT_NEAR(out[0], 0.25f + 0.5f * (1 - 1 / 13230.0f), 1e-3f);
    EXPECT_NEAR(out[2 * 6615], 0.25f + 0.25f, 1e-3f);
    EXPECT_FLOAT_EQ(out[2 * 13300], 0.25f);
    EXPECT_EQ(idea->numFadingLoops(), 0u);
    pool.collectGarbage();
    EXPECT_EQ(pool.size(), 1u);
    EXPECT_EQ(pool.getLoop(kept->id()), kept);
    Json::Value root;
    ideas.toJson(root);
    EXPECT_EQ(root["idea_collection"]["ideas"][0]["loops"].size(), 1u);
}

TEST_F(IdeaTest, JsonEditsNameAndActiveIdeaAndClear)
{
    Idea* a = addIdea("A");
    Idea* b = addIdea("B");
    Json::Value edit = ideaElement(b->id());
    edit["ideas"][0]["name"] = "Bridge";
    edit["ideas"][0]["mute"] = true;
    edit["active_idea_id"] = b->id();
    EXPECT_FALSE(ideas.handleJson(command(edit)));
    EXPECT_EQ(b->name(), "Bridge");
    EXPECT_EQ(ideas.activeIdeaId(), b->id());
    Json::Value root;
    ideas.toJson(root);
    const Json::Value& state = root["idea_collection"];
    EXPECT_EQ(state["active_idea_id"].asInt(), b->id());
    EXPECT_EQ(state["test"].asString(), "foobar");
    EXPECT_FALSE(state["ideas"][0]["active"].asBool());
    EXPECT_TRUE(state["ideas"][1]["active"].asBool());
    EXPECT_TRUE(state["ideas"][1]["mute"].asBool());
    EXPECT_EQ(state["ideas"][0]["name"].asString(), "A");
    (void)a;

    // A loop id that the pool does not hold, or that is in another idea, is skipped.
    auto other = constantLoop(0.5f);
    Json::Value bad = ideaElement(b->id());
    bad["ideas"][0]["loops"].append(Json::Value());
    bad["ideas"][0]["loops"][0]["id"] = 99999;
    bad["ideas"][0]["loops"].append(Json::Value());
    bad["ideas"][0]["loops"][1]["id"] = other->id();
    bad["ideas"][0]["loops"][1]["mute"] = true;
    ideas.handleJson(command(bad));
    EXPECT_FALSE(other->isMuted());

    Json::Value clear;
    clear["clear"] = true;
    project.setModified(false);
    ideas.handleJson(command(clear));
    EXPECT_TRUE(ideas.ideas().empty());
    EXPECT_EQ(ideas.activeIdeaId(), 0);
    EXPECT_TRUE(project.isModified());
}

TEST_F(IdeaTest, LoadIdeaPairsWavFilesWithTracksInIndexOrder)
{
    TempDir dir;
    const std::string audio = dir.file("audio");
    std::filesystem::create_directory(audio);
    // loop0 .. loop10 of 1000 x (i + 1) frames; track i holds note i at 0 and
    // a note past the loop's end, except that note 100 lies exactly at the end.
    MidiWriter writer;
    ASSERT_EQ(writer.open(dir.file("Verse.mid")), 0);
    for (int i = 0; i <= 10; ++i) {
        const int frames = 1000 * (i + 1);
        std::vector<float> src(2 * frames, 0.1f);
        ASSERT_EQ(writeWav(audio + "/loop" + std::to_string(i) + ".wav", src.data(), 2 * frames), 0);
        if (i == 10)
            continue; // fewer tracks than loops
        const int64 lengthUs = int64(frames / 44100.0 * 1000000.0);
        TimedMidiEventList notes;
        notes.addEvent(0, MidiMessage::noteOn(64, i, 0));
        notes.addEvent(10000, MidiMessage::noteOff(64, i, 0));
        notes.addEvent(lengthUs + 2000, MidiMessage::noteOn(64, 101, 0));
        writer.writeTrack(120.0f, notes, frames / 44100.0, 1);
    }
    writer.close();
    std::ofstream(audio + "/notes.txt") << "not a loop";

    ideas.loadIdea(audio, "Verse");
    ASSERT_EQ(ideas.ideas().size(), 1u);
    Idea* idea = ideas.ideas()[0];
    EXPECT_EQ(idea->name(), "Verse");
    EXPECT_EQ(ideas.activeIdea(), idea);
    const auto loops = idea->loops();
    ASSERT_EQ(loops.size(), 11u);
    for (int i = 0; i <= 10; ++i) {
        EXPECT_EQ(loops[i]->numFrames(), 1000 * (i + 1)) << i;
        const auto events = loops[i]->notes().events();
        if (i == 10) {
            EXPECT_TRUE(events.empty());
            continue;
        }
        ASSERT_EQ(events.size(), 2u) << i; // the note past the end is dropped
        EXPECT_EQ(events[0].second.note(), i);
    }
    EXPECT_TRUE(project.isModified());

    testing::internal::CaptureStderr();
    ideas.loadIdea(dir.file("missing"), "Gone");
    EXPECT_NE(testing::internal::GetCapturedStderr().find("Couldn't open directory: " + dir.file("missing")),
              std::string::npos);
    EXPECT_EQ(ideas.ideas().size(), 2u);
    EXPECT_EQ(ideas.ideas()[1]->name(), "A New Idea");
    EXPECT_TRUE(ideas.ideas()[1]->loops().empty());
}

TEST_F(IdeaTest, NoteExactlyAtTheLoopEndStays)
{
    TempDir dir;
    const std::string audio = dir.file("audio");
    std::filesystem::create_directory(audio);
    std::vector<float> src(2 * 44100, 0.1f);
    ASSERT_EQ(writeWav(audio + "/loop0.wav", src.data(), 2 * 44100), 0);
    MidiWriter writer;
    ASSERT_EQ(writer.open(dir.file("Tag.mid")), 0);
    TimedMidiEventList notes;
    notes.addEvent(1000000, MidiMessage::noteOff(64, 5, 0)); // tick 1920 reads back as exactly 1 s
    notes.addEvent(1000600, MidiMessage::noteOff(64, 6, 0)); // one tick later: dropped
    writer.writeTrack(120.0f, notes, 1.0, 1);
    writer.close();
    ideas.loadIdea(audio, "Tag");
    const auto events = ideas.ideas()[0]->loops()[0]->notes().events();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].first, 1000000);
}

} // namespace
