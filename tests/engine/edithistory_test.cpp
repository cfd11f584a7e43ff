#include "core/jsonfield.h"
#include "engine/drumloopplayer.h"
#include "engine/edithistory.h"
#include "engine/project.h"
#include "formats/wavewriter.h"
#include "loops/loopaudio.h"
#include "loops/looprecorder.h"
#include "support/enginetest.h"
#include "support/tempdir.h"

#include "enginefakes.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace {

// A drum loop file of 4 beats at 120 bpm: a click on every beat.
void writeDrumLoop(const std::string& path)
{
    std::vector<float> samples(2 * 88200, 0.0f);
    for (int beat = 0; beat < 4; ++beat)
        for (int k = 0; k < 200; ++k)
            samples[2 * (beat * 22050 + k)] = samples[2 * (beat * 22050 + k) + 1] = 0.5f;
    ASSERT_EQ(writeWav(path, samples.data(), int(samples.size())), 0);
}

// What a listener and the page can tell of the song: the ideas as the page
// sees them, the tempo, and every loop's audio sample for sample.
struct Song
{
    std::string ideas;
    double bpm = 0.0;
    std::vector<std::vector<float>> audio;
    bool operator==(const Song&) const = default;
};

class LineCatcher : public LogSink
{
public:
    LineCatcher() { Log::setSink(this); }
    ~LineCatcher() override { Log::setSink(nullptr); }
    void write(LogLevel, std::string_view line) override
    {
        std::lock_guard lock(m_mutex);
        m_lines.emplace_back(line);
    }
    bool saw(const std::string& text)
    {
        std::lock_guard lock(m_mutex);
        for (const std::string& line : m_lines)
            if (line.find(text) != std::string::npos)
                return true;
        return false;
    }

private:
    std::mutex m_mutex;
    std::vector<std::string> m_lines;
};

class EditHistoryTest : public EngineTest
{
protected:
    Song song() const
    {
        Song s;
        Json::Value root;
        engine.ideaCollection()->toJson(root);
        s.ideas = JsonField::styled(root);
        s.bpm = engine.project()->bpm();
        for (const Idea* idea : engine.ideaCollection()->ideas())
            for (const auto& loop : idea->loops())
                s.audio.emplace_back(loop->data(), loop->data() + 2 * loop->numFrames());
        return s;
    }
    // The recorder holds a take of its length whose samples are tag + k / 1e6.
    std::vector<float> record(float tag)
    {
        LoopRecorder::Content content = engine.loopRecorder()->copyContent();
        const int64 frames = content.audio->frames();
        std::vector<float> take(std::size_t(2 * frames));
        for (std::size_t k = 0; k < take.size(); ++k)
            take[k] = tag + float(k % 1000) * 1e-6f;
        content.audio = LoopAudio::copyOf(take.data(), frames);
        engine.loopRecorder()->putContent(content);
        return take;
    }
    std::vector<float> recorderAudio() const
    {
        const LoopRecorder::Content content = engine.loopRecorder()->copyContent();
        return { content.audio->data(), content.audio->data() + 2 * content.audio->frames() };
    }
    int32 ideaId(std::size_t i) const { return engine.ideaCollection()->ideas().at(i)->id(); }
    int32 loopId(std::size_t idea, std::size_t loop) const
    {
        return engine.ideaCollection()->ideas().at(idea)->loops().at(loop)->id();
    }
    std::string ideaMessage(const std::string& element) const
    {
        return "{ \"idea_collection\" : { \"ideas\" : [ " + element + " ] } }";
    }
    std::string loopEntry(const std::string& entry) const
    {
        return ideaMessage("{ \"id\" : " + std::to_string(ideaId(0)) + ", \"loops\" : [ { \"id\" : "
                           + std::to_string(loopId(0, 0)) + ", " + entry + " } ] }");
    }
    TempDir dir;
};

// Every kind of edit, made one after the other on one song, is undone back
// to the first and redone again to the last: each time the song is exactly
// as it was, and a take that an edit took from the recorder comes back,
// while what the recorder held instead waits in the step.
TEST_F(EditHistoryTest, EveryEditIsUndoneAndRedoneSampleForSample)
{
    writeDrumLoop(dir.file("120 4 Basic.wav"));
    struct Edit
    {
        const char* name;
        float take; // recorded just before the edit; 0 for none
        std::function<void()> make;
    };
    const std::vector<Edit> edits = {
        // Kept loops hold the tempo: it changes while the song has none.
        { "Change Tempo", -0.25f, [&] { send("setTempo->100"); } },
        { "Keep Loop", 0.25f, [&] { send("createLoopFromLoopRecorder"); } },
        { "Keep Loop", 0.5f, [&] { send("createLoopFromLoopRecorder"); } },
        { "Mute Loop", 0, [&] { send(loopEntry("\"mute\" : true")); } },
        { "Unmute Loop", 0, [&] { send(loopEntry("\"mute\" : false")); } },
        { "Rename Idea", 0, [&] { send(ideaMessage("{ \"id\" : " + std::to_string(ideaId(0)) + ", \"name\" : \"Verse\" }")); } },
        { "Clone Idea", 0, [&] { send("cloneIdea:" + std::to_string(ideaId(0))); } },
        { "Remove Loop", 0, [&] { send(loopEntry("\"_destroy\" : true")); } },
        { "Delete Idea", 0, [&] { send(ideaMessage("{ \"id\" : " + std::to_string(ideaId(1)) + ", \"_destroy\" : true }")); } },
        { "Clear Recorder", 0.75f, [&] { send("{ \"loop_recorder\" : { \"clear\" : true } }"); } },
        { "Play Drum Loop", 0, [&] {
             ASSERT_EQ(engine.drumLoopPlayer()->load(dir.path().string(), "120 4 Basic.wav"), 0);
             send("playDrumLoop");
         } },
        { "Stop Drum Loop", 0, [&] { send("stopDrumLoop"); } },
        { "Clear Ideas", 0, [&] { send("{ \"idea_collection\" : { \"clear\" : true } }"); } },
    };
    std::vector<Song> before, after;
    std::vector<std::vector<float>> takes;
    for (const Edit& edit : edits) {
        SCOPED_TRACE(edit.name);
        takes.push_back(edit.take != 0 ? record(edit.take) : std::vector<float>());
        before.push_back(song());
        edit.make();
        EXPECT_EQ(engine.history()->undoName(), edit.name);
        after.push_back(song());
        if (edit.take != 0)
            EXPECT_FALSE(engine.loopRecorder()->holdsRecording()) << "the take went";
        else
            ASSERT_NE(after.back(), before.back()) << "the edit changed nothing";
    }
    for (std::size_t i = edits.size(); i-- > 0;) {
        SCOPED_TRACE(std::string("undo ") + edits[i].name);
        EXPECT_EQ(engine.history()->undoName(), edits[i].name);
        send("undo");
        EXPECT_EQ(song(), before[i]);
        if (!takes[i].empty())
            EXPECT_EQ(recorderAudio(), takes[i]) << "the take is back in the recorder";
    }
    EXPECT_FALSE(engine.history()->canUndo());
    for (std::size_t i = 0; i < edits.size(); ++i) {
        SCOPED_TRACE(std::string("redo ") + edits[i].name);
        EXPECT_EQ(engine.history()->redoName(), edits[i].name);
        send("redo");
        EXPECT_EQ(song(), after[i]);
        if (takes[i].empty())
            continue;
        // The recorder holds what it held when this step was undone: the
        // take that the next such step took, as it did the first time.
        std::size_t next = i + 1;
        while (next < edits.size() && takes[next].empty())
            ++next;
        if (next < edits.size())
            EXPECT_EQ(recorderAudio(), takes[next]);
        else
            EXPECT_FALSE(engine.loopRecorder()->holdsRecording());
    }
    EXPECT_FALSE(engine.history()->canRedo());
}

// Undo and redo with nothing to take back change nothing, say so in the log
// and still give the page the ideas; refused edits and selecting an idea
// make no step.
TEST_F(EditHistoryTest, NothingToUndoOrRedoChangesNothingAndIsLogged)
{
    const std::vector<float> take = record(0.5f);
    const Song start = song();
    {
        LineCatcher log;
        for (const char* command : { "undo", "redo" })
            EXPECT_NE(send(command).find("\"idea_collection\""), std::string::npos) << command;
        EXPECT_TRUE(log.saw("Nothing to undo"));
        EXPECT_TRUE(log.saw("Nothing to redo"));
    }
    EXPECT_EQ(song(), start);
    EXPECT_EQ(recorderAudio(), take);

    send("createLoopFromLoopRecorder");
    const std::string select =
        "{ \"idea_collection\" : { \"active_idea_id\" : " + std::to_string(ideaId(0)) + " } }";
    for (const std::string& m : { std::string("setTempo->500"), std::string("cloneIdea:99999"),
                                  std::string("stopDrumLoop"), select })
        send(m);
    Json::Value state;
    ASSERT_TRUE(JsonField::parse(send("getHistory"), state));
    EXPECT_EQ(state["history"]["undo"].asString(), "Keep Loop");
    EXPECT_EQ(state["history"]["redo"].asString(), "");
    send("undo");
    EXPECT_FALSE(engine.history()->canUndo());
}

// Two hundred renames are all taken back, in order.
TEST_F(EditHistoryTest, AHundredStepsAndMoreAreKept)
{
    record(0.5f);
    send("createLoopFromLoopRecorder");
    const Song first = song();
    const int steps = int(EditHistory::MAX_STEPS) - 1;
    for (int i = 0; i < steps; ++i)
        send(ideaMessage("{ \"id\" : " + std::to_string(ideaId(0)) + ", \"name\" : \"Take " + std::to_string(i) + "\" }"));
    const Song last = song();
    for (int i = steps - 1; i >= 0; --i) {
        ASSERT_EQ(engine.ideaCollection()->ideas().at(0)->name(), "Take " + std::to_string(i));
        ASSERT_EQ(send("undo").find("Nothing"), std::string::npos);
    }
    EXPECT_EQ(song(), first);
    EXPECT_EQ(engine.history()->undoName(), "Keep Loop");
    while (engine.history()->canRedo())
        send("redo");
    EXPECT_EQ(song(), last);
}

// The audio of a loop that only an undone step still held is let go once a
// new edit drops that step; a song that starts anew lets go of everything.
TEST_F(EditHistoryTest, AudioOnlyDroppedStepsHeldIsReleased)
{
    const std::size_t poolAtStart = engine.loopPool()->size();
    record(0.5f);
    send("createLoopFromLoopRecorder");
    std::weak_ptr<Loop> kept = engine.ideaCollection()->ideas().at(0)->loops().at(0);
    std::weak_ptr<const LoopAudio> keptAudio = kept.lock()->audio();
    record(0.25f);
    send("createLoopFromLoopRecorder");
    std::weak_ptr<Loop> second = engine.ideaCollection()->ideas().at(0)->loops().at(1);
    std::weak_ptr<const LoopAudio> secondAudio = second.lock()->audio();

    send("undo"); // the second take goes back into the recorder (as a copy)
    EXPECT_FALSE(second.expired()) << "redo still needs it";
    send(ideaMessage("{ \"id\" : " + std::to_string(ideaId(0)) + ", \"name\" : \"Verse\" }"));
    EXPECT_TRUE(second.expired());
    EXPECT_TRUE(secondAudio.expired());

    send(loopEntry("\"_destroy\" : true"));
    EXPECT_FALSE(keptAudio.expired()) << "undo can bring it back";
    send("clearProject");
    EXPECT_TRUE(kept.expired());
    EXPECT_TRUE(keptAudio.expired());
    EXPECT_FALSE(engine.history()->canUndo());
    EXPECT_EQ(engine.loopPool()->size(), poolAtStart);
}

// A song stopped stays stopped through an undo, and plays the idea put back.
TEST_F(EditHistoryTest, UndoKeepsAStoppedSongStopped)
{
    record(0.5f);
    send("createLoopFromLoopRecorder");
    send("cloneIdea:" + std::to_string(ideaId(0)));
    const int32 clone = ideaId(1);
    ASSERT_EQ(send("stopSong"), "");
    send(ideaMessage("{ \"id\" : " + std::to_string(clone) + ", \"name\" : \"Bridge\" }"));
    send("undo");
    EXPECT_TRUE(engine.ideaCollection()->isStopped());
    EXPECT_EQ(engine.ideaCollection()->activeIdeaId(), 0);
    send("playSong");
    EXPECT_EQ(engine.ideaCollection()->activeIdeaId(), clone);
}

} // namespace
