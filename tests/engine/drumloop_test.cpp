#include "core/beatgrid.h"
#include "engine/drumloopcollection.h"
#include "engine/drumloopplayer.h"
#include "engine/metronome.h"
#include "engine/project.h"
#include "engine/transport.h"
#include "formats/sample.h"
#include "formats/wavewriter.h"
#include "loops/looprecorder.h"
#include "support/enginetest.h"
#include "support/tempdir.h"

#include "enginefakes.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <json/reader.h>

namespace {

// A drum loop file of the given length: a click at every beat of its tempo.
void writeDrumLoop(const std::string& path, int frames, int framesPerBeat)
{
    std::vector<float> samples(2 * std::size_t(frames), 0.0f);
    for (int f = 0; f < frames; f += framesPerBeat)
        for (int k = f; k < std::min(frames, f + 200); ++k)
            samples[2 * k] = samples[2 * k + 1] = 0.5f;
    ASSERT_EQ(writeWav(path, samples.data(), int(samples.size())), 0);
}

void touch(const std::string& path)
{
    std::ofstream(path) << "x";
}

TEST(DrumLoopCollectionTest, ScansNamedFilesAndSkipsTheRest)
{
    TempDir dir;
    for (const char* name : { "120 16 Deep Groove.wav", "notes.txt", "90 8 Two  Spaces.ogg", "bad.wav",
             "x y Swing.wav", "120 4.wav", "0 4 Zero.wav", "100 4 Upper.WAV", "70 2 Slow.ogg" })
        touch(dir.file(name));
    testing::internal::CaptureStderr();
    DrumLoopCollection collection(dir.path().string());
    const std::string err = testing::internal::GetCapturedStderr();

    ASSERT_EQ(collection.size(), 3u);
    struct Expected { const char* file; const char* display; int bpm; int beats; };
    const Expected expected[] = { { "120 16 Deep Groove.wav", "Deep Groove", 120, 16 },
        { "70 2 Slow.ogg", "Slow", 70, 2 }, { "90 8 Two  Spaces.ogg", "Two Spaces", 90, 8 } };
    for (std::size_t i = 0; i < 3; ++i) {
        const DrumLoopInfo* info = collection.at(i);
        EXPECT_EQ(info->fileName(), expected[i].file);
        EXPECT_EQ(info->displayName(), expected[i].display);
        EXPECT_EQ(info->bpm(), expected[i].bpm);
        EXPECT_EQ(info->beats(), expected[i].beats);
    }
    EXPECT_EQ(collection.at(0)->art(), dir.path().string() + "/120 16 Deep Groove.png");
    EXPECT_EQ(collection.at(3), nullptr);
    for (const char* skipped : { "bad.wav", "x y Swing.wav", "120 4.wav", "0 4 Zero.wav" })
        EXPECT_NE(err.find("***\nError: Invalid drum loop name:" + std::string(skipped) + "***\n"), std::string::npos)
            << skipped << "\n" << err;

    Json::Value root;
    collection.toJson(root);
    const Json::Value& first = root["drum_loop_collection"]["drum_loops"][0];
    EXPECT_EQ(root["drum_loop_collection"]["drum_loops"].size(), 3u);
    EXPECT_EQ(first["file_name"].asString(), "120 16 Deep Groove.wav");
    EXPECT_EQ(first["display_name"].asString(), "Deep Groove");
    EXPECT_EQ(first["art"].asString(), dir.path().string() + "/120 16 Deep Groove.png");
    EXPECT_EQ(first["bpm"].asInt(), 120);
    EXPECT_EQ(first["beats"].asInt(), 16);
}

TEST(DrumLoopCollectionTest, AMissingFolderGivesAnEmptyCollection)
{
    testing::internal::CaptureStderr();
    DrumLoopCollection collection("/nonexistent/beats");
    EXPECT_NE(testing::internal::GetCapturedStderr().find("Couldn't open directory: /nonexistent/beats"),
        std::string::npos);
    EXPECT_EQ(collection.size(), 0u);
    Json::Value root;
    collection.toJson(root);
    EXPECT_TRUE(root["drum_loop_collection"]["drum_loops"].isArray());
}

class DrumLoopTest : public EngineTest
{
protected:
    void SetUp() override
    {
        EngineTest::SetUp();
        writeDrumLoop(dir.file("120 4 Basic.wav"), 88200, 22050);
        writeDrumLoop(dir.file("200 4 Fast.wav"), 52920, 13230);
        engine.drumLoopCollection()->scan(dir.path().string());
    }
    std::vector<std::shared_ptr<Loop>> activeLoops() const
    {
        Idea* idea = engine.ideaCollection()->activeIdea();
        return idea ? idea->loops() : std::vector<std::shared_ptr<Loop>>();
    }
    TempDir dir;
};

TEST_F(DrumLoopTest, LoadingByIndexOrNamePlaysNothingUntilAsked)
{
    EXPECT_EQ(engine.loadDrumLoopByIndex(5), 1) << "past the list: ignored";
    EXPECT_FALSE(engine.drumLoopPlayer()->isLoaded());
    for (const char* bad : { "Basic.wav", "../120 4 Basic.wav", "" })
        EXPECT_EQ(engine.loadDrumLoopByName(bad), 1) << bad;
    EXPECT_FALSE(engine.drumLoopPlayer()->isLoaded());

    EXPECT_EQ(send("loadDrumLoopByIndex:1"), ""); // "200 4 Fast.wav"
    EXPECT_TRUE(engine.drumLoopPlayer()->isLoaded());
    EXPECT_FLOAT_EQ(engine.drumLoopPlayer()->bpm(), 200.0f);
    EXPECT_EQ(send("loadDrumLoopByName:120 4 Basic.wav"), "");
    EXPECT_FLOAT_EQ(engine.drumLoopPlayer()->bpm(), 120.0f);
    EXPECT_FLOAT_EQ(engine.drumLoopPlayer()->beats(), 4.0f);
    EXPECT_TRUE(engine.ideaCollection()->ideas().empty());

    Transport::instance().setPosition(5000);
    EXPECT_EQ(send("playDrumLoop"), "");
    ASSERT_EQ(activeLoops().size(), 1u);
    EXPECT_EQ(activeLoops()[0]->numFrames(), 88200);
    EXPECT_EQ(activeLoops()[0], engine.drumLoopPlayer()->loop());
    EXPECT_EQ(Transport::instance().position(), 0);

    Json::Value reply;
    Json::Reader().parse(send("getDrumLoopCollection"), reply);
    EXPECT_EQ(reply["drum_loop_collection"]["drum_loops"].size(), 2u);
}

TEST_F(DrumLoopTest, StoppingRemovesOnlyTheDrumLoop)
{
    std::shared_ptr<Loop> mine = makeLoop(engine, 1000, constant(0.1f));
    Idea* first = addIdea(engine, "Mine", { mine });
    engine.loadDrumLoopByName("120 4 Basic.wav");
    engine.playDrumLoop();
    addIdea(engine, "Other", { makeLoop(engine, 500, constant(0.2f)) });
    ASSERT_EQ(first->loops().size(), 2u);

    EXPECT_EQ(send("stopDrumLoop"), "");
    EXPECT_EQ(engine.ideaCollection()->ideas().size(), 2u);
    ASSERT_EQ(first->loops().size(), 1u);
    EXPECT_EQ(first->loops()[0], mine);
    EXPECT_EQ(engine.drumLoopPlayer()->loop(), nullptr);
    EXPECT_TRUE(engine.drumLoopPlayer()->isLoaded()) << "stopped, not cleared";

    engine.playDrumLoop();
    engine.playDrumLoop(); // a second play replaces the first
    EXPECT_EQ(first->loops().size(), 2u);
    EXPECT_EQ(send("clearDrumLoop"), "");
    EXPECT_FALSE(engine.drumLoopPlayer()->isLoaded());
    EXPECT_EQ(first->loops().size(), 1u);
}

// Loops already kept fix the song's tempo: a drum loop chosen then is
// re-timed to it. Only an empty song takes the drum loop's own tempo.
TEST_F(DrumLoopTest, ADrumLoopFollowsTheSongOnceItHasLoops)
{
    engine.setTempo(90.0f);
    engine.loadDrumLoopByName("120 4 Basic.wav");
    engine.playDrumLoop();
    EXPECT_DOUBLE_EQ(engine.project()->bpm(), 120.0) << "an empty song takes the drum loop's tempo";
    EXPECT_EQ(engine.drumLoopPlayer()->loop()->numFrames(), 88200) << "played as it is";

    engine.setTempo(90.0f);
    engine.stopDrumLoop();
    addIdea(engine, "Mine", { makeLoop(engine, 117600, constant(0.1f)) }); // 4 beats at 90 bpm
    engine.loopRecorder()->setRecord(true);
    std::vector<float> played(2 * 64, 0.2f);
    engine.loopRecorder()->record(played.data(), 64);
    engine.playDrumLoop();
    EXPECT_TRUE(engine.loopRecorder()->holdsRecording()) << "the tempo stays, so does the recording";
    EXPECT_DOUBLE_EQ(engine.project()->bpm(), 90.0);
    EXPECT_FLOAT_EQ(Transport::instance().bpm(), 90.0f);
    // Four beats at 90 bpm, in whole chunks of the resampler.
    EXPECT_NEAR(double(engine.drumLoopPlayer()->loop()->numFrames()), 117600.0, 256.0);
    EXPECT_EQ(engine.ideaCollection()->activeIdea()->loops().back(), engine.drumLoopPlayer()->loop());
}

// Choosing a drum loop empties the loop recorder only when it changes the
// recorder's length: in a song without loops of its own, at a tempo the
// recorder's beats do not fit. The answer to getDrumLoopCollection says which
// rule a choice made now follows, so the page can ask exactly then.
TEST_F(DrumLoopTest, ADrumLoopEmptiesTheRecorderOnlyWhenItChangesItsLength)
{
    struct Case { const char* what; float songBpm; bool ownLoops; int recorderBeats; const char* file; bool kept; float bpmAfter; };
    const Case cases[] = {
        { "empty song, another tempo", 90.0f, false, 16, "120 4 Basic.wav", false, 120.0f },
        { "empty song, its own tempo", 120.0f, false, 16, "120 4 Basic.wav", true, 120.0f },
        { "empty song, its own tempo, 8 beats", 120.0f, false, 8, "120 4 Basic.wav", true, 120.0f },
        { "song with loops, another tempo", 90.0f, true, 16, "120 4 Basic.wav", true, 90.0f },
        { "song with loops, its own tempo", 200.0f, true, 16, "200 4 Fast.wav", true, 200.0f },
    };
    auto playsAtSongTempo = [this] {
        Json::Value reply;
        Json::Reader().parse(send("getDrumLoopCollection"), reply);
        const Json::Value& v = reply["drum_loop_collection"]["plays_at_song_tempo"];
        return std::string(v.isBool() ? (v.asBool() ? "true" : "false") : "not a bool");
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        engine.clearProject();
        ASSERT_EQ(engine.setTempo(c.songBpm), 0);
        ASSERT_EQ(engine.loopRecorder()->setNumBeats(c.recorderBeats), 0);
        if (c.ownLoops)
            addIdea(engine, "Mine", { makeLoop(engine, 1000, constant(0.1f)) });
        engine.loopRecorder()->setRecord(true);
        std::vector<float> played(2 * 64, 0.2f);
        engine.loopRecorder()->record(played.data(), 64);
        engine.loopRecorder()->setRecord(false);
        ASSERT_TRUE(engine.loopRecorder()->holdsRecording());

        EXPECT_EQ(playsAtSongTempo(), c.ownLoops ? "true" : "false");

        ASSERT_EQ(engine.loadDrumLoopByName(c.file), 0);
        engine.playDrumLoop();
        EXPECT_EQ(engine.loopRecorder()->holdsRecording(), c.kept);
        EXPECT_FLOAT_EQ(Transport::instance().bpm(), c.bpmAfter);
        EXPECT_DOUBLE_EQ(engine.project()->bpm(), double(c.bpmAfter));
        EXPECT_EQ(engine.loopRecorder()->numBeats(), c.recorderBeats);
        EXPECT_EQ(engine.loopRecorder()->lengthFrames(), BeatGrid(c.bpmAfter).framesForBeats(c.recorderBeats));
        // Once it plays, the drum loop is not a loop of the song's own.
        EXPECT_EQ(playsAtSongTempo(), c.ownLoops ? "true" : "false");
    }
}

TEST_F(DrumLoopTest, SlowerTempoResamplesTheDrumLoopAndRetimesRecorderAndMetronome)
{
    std::shared_ptr<Loop> mine = makeLoop(engine, 1000, constant(0.1f));
    Idea* idea = addIdea(engine, "Mine", { mine });
    engine.loadDrumLoopByName("120 4 Basic.wav");
    engine.playDrumLoop();
    std::shared_ptr<Loop> before = engine.drumLoopPlayer()->loop();
    Transport::instance().setPosition(9999);
    EXPECT_EQ(engine.setTempo(60.0f), 1) << "a kept loop holds the tempo";
    EXPECT_EQ(engine.drumLoopPlayer()->loop(), before);
    idea->removeLoop(mine, false);

    ASSERT_EQ(engine.setTempo(60.0f), 0);
    std::shared_ptr<Loop> drum = engine.drumLoopPlayer()->loop();
    ASSERT_TRUE(drum);
    EXPECT_NE(drum, before);
    const int64 d = drum->numFrames();
    EXPECT_EQ(d, 176400);
    EXPECT_EQ(engine.metronome()->framesPerBeat(), 44100);
    EXPECT_EQ(engine.loopRecorder()->numBeats(), 16);
    EXPECT_EQ(engine.loopRecorder()->lengthFrames(), 16 * 44100);
    EXPECT_DOUBLE_EQ(engine.loopRecorder()->tempo(), 60.0);
    EXPECT_EQ(Transport::instance().position(), 0);
    EXPECT_FLOAT_EQ(Transport::instance().bpm(), 60.0f);

    const std::vector<std::shared_ptr<Loop>> loops = idea->loops();
    ASSERT_EQ(loops.size(), 1u);
    EXPECT_EQ(loops[0], drum) << "the drum loop is replaced";

    // The second beat's click lands twice as late.
    const float* data = drum->data();
    int64 secondClick = -1;
    for (int64 k = 30000; k < d && secondClick < 0; ++k)
        if (data[2 * k] > 0.25f)
            secondClick = k;
    EXPECT_NEAR(double(secondClick), 44100.0, 2.0);

    ASSERT_EQ(engine.setTempo(120.0f), 0);
    EXPECT_EQ(idea->loops().size(), 1u);
    EXPECT_EQ(engine.drumLoopPlayer()->loop()->numFrames(), 88200);
}

TEST_F(DrumLoopTest, RatiosAtOrBelowAFifthAreRefused)
{
    engine.loadDrumLoopByName("200 4 Fast.wav");
    engine.playDrumLoop();
    std::shared_ptr<Loop> drum = engine.drumLoopPlayer()->loop();
    ASSERT_EQ(engine.setTempo(45.0f), 0);
    drum = engine.drumLoopPlayer()->loop();
    EXPECT_EQ(engine.setTempo(40.0f), 1) << "40 / 200 = 0.2";
    EXPECT_EQ(engine.setTempo(30.0f), 1);
    EXPECT_FLOAT_EQ(Transport::instance().bpm(), 45.0f);
    EXPECT_EQ(engine.drumLoopPlayer()->loop(), drum);
}

// A drum loop of N beats at T bpm is round(N x 60 x 44,100 / T) frames,
// chosen at its own tempo (loaded, then the tempo set, as the page does) or
// re-timed, so it wraps with the recorder and the click. At its own tempo a
// file of that length is played unchanged; a file a few frames off is
// re-timed to the exact length.
TEST_F(DrumLoopTest, DrumLoopsAreExactlyTheirBeatsAtTheTempo)
{
    struct Case { const char* file; int fileFrames; float bpm; int64 frames; };
    const Case cases[] = {
        { "120 16 Rock.wav", 352800, 120.0f, 352800 },
        { "90 8 Hip.wav", 235200, 90.0f, 235200 },
        { "125 16 Floor.wav", 338688, 120.0f, 352800 },
        { "90 8 Hip.wav", 235200, 120.0f, 176400 },
        { "90 8 Hip.wav", 235200, 113.7f, 186174 },
        { "120 4 Short.wav", 88190, 120.0f, 88200 },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file + std::string(" at ") + std::to_string(c.bpm));
        if (!std::filesystem::exists(dir.file(c.file)))
            writeDrumLoop(dir.file(c.file), c.fileFrames, c.fileFrames / (c.frames > 300000 ? 16 : 8));
        engine.drumLoopCollection()->scan(dir.path().string());
        ASSERT_EQ(engine.loadDrumLoopByName(c.file), 0);
        ASSERT_EQ(engine.setTempo(c.bpm), 0);
        const std::shared_ptr<Loop> drum = engine.drumLoopPlayer()->loop();
        ASSERT_TRUE(drum);
        EXPECT_EQ(drum->numFrames(), c.frames);
        EXPECT_EQ(drum->numBeats(), int(engine.drumLoopPlayer()->beats()));
        if (c.fileFrames == c.frames) {
            const Sample file(dir.file(c.file));
            EXPECT_TRUE(std::equal(file.data(), file.data() + 2 * c.frames, drum->data())) << "copied unchanged";
        }
        // Playing it again in a song with loops puts it in at the song's tempo, as exact.
        const std::shared_ptr<Loop> mine = makeLoop(engine, 1000, constant(0.1f));
        engine.ideaCollection()->activeIdea()->addLoop(mine);
        engine.playDrumLoop();
        EXPECT_EQ(engine.drumLoopPlayer()->loop()->numFrames(), c.frames);
        engine.ideaCollection()->activeIdea()->removeLoop(mine, false); // it would hold the next tempo
    }
}

// Stopped means stopped: a tempo change neither brings the drum loop back nor
// restarts the song, and a stopped or cleared drum loop limits no tempo.
TEST_F(DrumLoopTest, AStoppedDrumLoopStaysStopped)
{
    Idea* idea = addIdea(engine, "Mine", {});
    engine.loadDrumLoopByName("200 4 Fast.wav");
    engine.playDrumLoop();
    ASSERT_EQ(idea->loops().size(), 1u);
    EXPECT_EQ(engine.setTempo(30.0f), 1) << "playing: 30 / 200 is out of its reach";
    engine.stopDrumLoop();
    ASSERT_EQ(engine.loopRecorder()->setNumBeats(4), 0);
    Transport::instance().setPosition(4321);

    ASSERT_EQ(engine.setTempo(30.0f), 0);
    ASSERT_EQ(engine.setTempo(90.0f), 0);
    EXPECT_TRUE(idea->loops().empty());
    EXPECT_EQ(engine.drumLoopPlayer()->loop(), nullptr);
    EXPECT_EQ(Transport::instance().position(), 4321);
    EXPECT_EQ(engine.loopRecorder()->numBeats(), 4);
    EXPECT_EQ(engine.loopRecorder()->lengthFrames(), 4 * 29400);

    engine.playDrumLoop(); // back on request
    EXPECT_EQ(idea->loops().size(), 1u);
    engine.clearDrumLoop();
    EXPECT_EQ(engine.setTempo(30.0f), 0);
    EXPECT_TRUE(idea->loops().empty());
}

// One rule for every tempo change, typed, tapped or from a Link session: kept
// loops are their beats long at the song's tempo, so while there are any the
// tempo stays (the drum loop alone holds nothing).
TEST_F(DrumLoopTest, KeptLoopsHoldTheTempoWhereverTheChangeComesFrom)
{
    std::shared_ptr<Loop> mine = makeLoop(engine, 1000, constant(0.1f));
    Idea* idea = addIdea(engine, "Mine", { mine });
    ASSERT_EQ(engine.loopRecorder()->setNumBeats(4), 0);
    Transport::instance().setPosition(4321);
    for (ZubEngine::TempoSource source : { ZubEngine::TempoSource::Local, ZubEngine::TempoSource::Session }) {
        EXPECT_EQ(engine.setTempo(90.0f, source), 1);
        EXPECT_FLOAT_EQ(Transport::instance().bpm(), 120.0f);
        EXPECT_EQ(engine.metronome()->framesPerBeat(), 22050);
        EXPECT_DOUBLE_EQ(engine.project()->bpm(), 120.0);
        EXPECT_EQ(engine.loopRecorder()->lengthFrames(), 4 * 22050) << "the recorder is not emptied";
    }
    EXPECT_EQ(send("setTempo->90"), "");
    EXPECT_FLOAT_EQ(Transport::instance().bpm(), 120.0f);
    EXPECT_EQ(idea->loops(), std::vector<std::shared_ptr<Loop>>({ mine }));
    EXPECT_EQ(Transport::instance().position(), 4321);
    EXPECT_EQ(engine.setTempo(120.0f), 0) << "the tempo it has is no change";

    engine.loadDrumLoopByName("120 4 Basic.wav");
    engine.clearProject();
    EXPECT_FALSE(engine.drumLoopPlayer()->isLoaded());
    ASSERT_EQ(engine.setTempo(100.0f), 0);
    EXPECT_TRUE(engine.ideaCollection()->ideas().empty());
}

// The drum loops the build renders into res/beats.
TEST(ShippedDrumLoopsTest, EveryFileParsesAndLastsTheBeatsItsNameSays)
{
    const std::string folder = MOTIFO_BINARY_DIR "/res/beats";
    DrumLoopCollection collection(folder);
    if (collection.size() == 0)
        GTEST_SKIP() << "build the beats target first";
    EXPECT_GE(collection.size(), 5u);
    for (std::size_t i = 0; i < collection.size(); ++i) {
        const DrumLoopInfo* info = collection.at(i);
        Sample sample(folder + "/" + info->fileName());
        EXPECT_EQ(sample.numSamples() / 2, int64(info->beats()) * 60 * 44100 / info->bpm()) << info->fileName();
        float peak = 0.0f;
        for (int k = 0; k < sample.numSamples(); ++k)
            peak = std::max(peak, std::abs(sample.data()[k]));
        EXPECT_GT(peak, 0.05f) << info->fileName();
        EXPECT_LT(peak, 1.0f) << info->fileName();
    }
}

} // namespace
