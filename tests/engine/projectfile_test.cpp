#include "engine/ideafilenames.h"
#include "engine/project.h"
#include "engine/projectfile.h"
#include "engine/songfiles.h"
#include "engine/transport.h"
#include "support/enginetest.h"
#include "support/tempdir.h"

#include "enginefakes.h"

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <iostream>
#include <iterator>
#include <json/reader.h>
#include <json/writer.h>
#include <gtest/gtest.h>
#include <set>
#include <sys/resource.h>

namespace fs = std::filesystem;

namespace {

// The loop files are 16-bit at half gain, read back doubled.
constexpr float kLoopTolerance = 5.0f / 32766.0f;

FrameValue wave(float frequency, float level)
{
    return [=](int64 k, int c) { return level * std::sin(float(k) * frequency + float(c)); };
}

TimedMidiEventList notes(std::initializer_list<std::pair<int64, int>> onsets, int64 lengthUs)
{
    TimedMidiEventList list;
    for (const auto& [time, note] : onsets) {
        list.addEvent(time, MidiMessage::noteOn(100, note, 0));
        list.addEvent(time + lengthUs, MidiMessage::noteOff(0, note, 0));
    }
    return list;
}

std::set<std::string> filesBelow(const fs::path& root)
{
    std::set<std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(root))
        files.insert(fs::relative(entry.path(), root).string());
    return files;
}

class ProjectFileTest : public EngineTest
{
protected:
    void SetUp() override
    {
        EngineTest::SetUp();
        engine.setJsBridge(&bridge);
    }
    std::string doc(const std::string& name = "My Song.zub") const { return dir.file(name); }
    std::string audioFolder(const std::string& name = "My Song.zub") const
    {
        return ProjectFile::audioFolder(doc(name), 0, "");
    }
    std::vector<Idea*> ideas() const { return engine.ideaCollection()->ideas(); }
    void expectSameAudio(const Loop& a, const Loop& b)
    {
        ASSERT_EQ(a.numFrames(), b.numFrames());
        for (int64 i = 0; i < 2 * a.numFrames(); ++i)
            ASSERT_NEAR(a.data()[i], b.data()[i], kLoopTolerance) << i;
    }
    RecordingBridge bridge;
    TempDir dir;
    ProjectFile file { &engine };
};

TEST(IdeaFileNamesTest, NamesStayInsideAndApart)
{
    struct Case { std::string name; std::string safe; };
    const Case cases[] = { { "Verse", "Verse" }, { "../x", "___x" }, { "a/b", "a_b" }, { "", "Idea" },
        { "..", "__" }, { ".", "_" }, { "a\\b:c*?\"<>|", "a_b_c______" }, { "tab\there", "tab_here" },
        { "end. ", "end__" }, { "CON", "_CON" }, { "nul.txt", "_nul.txt" }, { "Ünïcödé", "Ünïcödé" },
        { std::string(300, 'a'), std::string(200, 'a') } };
    for (const Case& c : cases) {
        EXPECT_EQ(IdeaFileNames::safeName(c.name), c.safe) << c.name;
        EXPECT_TRUE(IdeaFileNames::isSafe(c.safe)) << c.safe;
    }
    // Cut inside a two-byte character: the whole character goes.
    const std::string umlauts = "a" + [] { std::string s; for (int i = 0; i < 150; ++i) s += "\xc3\xa4"; return s; }();
    EXPECT_EQ(IdeaFileNames::safeName(umlauts), umlauts.substr(0, 199));
    EXPECT_EQ(IdeaFileNames::forIdeas({ "Verse", "verse", "Verse", "a/b", "a_b" }),
        std::vector<std::string>({ "Verse", "verse (2)", "Verse (3)", "a_b", "a_b (2)" }));
}

TEST_F(ProjectFileTest, SaveWritesTheDocumentAndOneFolderPerIdeaWithLoops)
{
    addIdea(engine, "Verse", { makeLoop(engine, 1000, wave(0.01f, 0.4f)), makeLoop(engine, 2000, constant(0.1f)) });
    addIdea(engine, "Empty", {});
    engine.project()->setModified(true);
    ASSERT_EQ(file.save(doc()), 0);
    EXPECT_FALSE(engine.project()->isModified());
    EXPECT_EQ(filesBelow(audioFolder()),
        std::set<std::string>({ "Verse.wav", "Verse.mid", "Verse", "Verse/loop0.wav", "Verse/loop1.wav" }));
    EXPECT_EQ(filesBelow(dir.path()).size(), 2u + 5u) << "document, folder and its files, nothing left over";
}

// The desktop's own recogniser (shared-mime-info read by GIO) knows a saved
// song by its name and, renamed, by its content; other JSON stays JSON.
TEST_F(ProjectFileTest, TheDesktopRecognisesASavedSong)
{
    const fs::path data = dir.path() / "data";
    fs::create_directories(data / "mime/packages");
    fs::copy_file(MOTIFO_SOURCE_DIR "/dist/motifo-mime.xml", data / "mime/packages/motifo.xml");
    ASSERT_EQ(std::system(("update-mime-database '" + (data / "mime").string() + "'").c_str()), 0);
    auto typeOf = [&](const std::string& path) {
        const std::string command = "XDG_DATA_HOME='" + data.string()
            + "' XDG_DATA_DIRS=/usr/share gio info -a standard::content-type '" + path + "' 2>/dev/null";
        std::string out;
        if (std::FILE* p = popen(command.c_str(), "r")) {
            char chunk[256];
            for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, p)) > 0;)
                out.append(chunk, n);
            pclose(p);
        }
        const std::size_t at = out.find("content-type: ");
        return at == std::string::npos ? out : out.substr(at + 14, out.find('\n', at) - at - 14);
    };
    addIdea(engine, "Verse", { makeLoop(engine, 1000, constant(0.1f)) });
    ASSERT_EQ(file.save(doc()), 0);
    fs::copy_file(doc(), dir.file("renamed"));
    std::ofstream(dir.file("older")) << "{\n   \"project\" : {\n      \"bpm\" : 96.0\n   }\n}\n";
    std::ofstream(dir.file("other.json")) << "{ \"name\" : \"not a song\" }\n";
    const std::pair<std::string, std::string> cases[] = {
        { doc(), "application/x-motifo-song" },
        { dir.file("renamed"), "application/x-motifo-song" },
        { dir.file("older"), "application/x-motifo-song" },
        { dir.file("other.json"), "application/json" },
    };
    for (const auto& [path, type] : cases)
        EXPECT_EQ(typeOf(path), type) << path;
}

TEST_F(ProjectFileTest, SaveThenOpenGivesBackIdeasLoopsNotesAndTempo)
{
    engine.setTempo(100.0f);
    std::shared_ptr<Loop> drums = makeLoop(engine, 44100, wave(0.02f, 0.6f));
    std::shared_ptr<Loop> bass = makeLoop(engine, 22050, wave(0.005f, 0.3f));
    bass->setNotes(notes({ { 0, 40 }, { 100000, 43 }, { 400000, 45 } }, 50000));
    Idea* verse = addIdea(engine, "Verse", { drums, bass });
    ASSERT_EQ(engine.ideaCollection()->cloneIdea(verse->id()), 0); // "Verse 2", now active
    const std::string cloneName = ideas()[1]->name();
    // Muted in the clone only, as the page mutes a loop.
    Json::Value mute;
    ASSERT_TRUE(Json::Reader().parse("{ \"idea_collection\" : { \"ideas\" : [ { \"id\" : " + std::to_string(ideas()[1]->id())
                                         + ", \"loops\" : [ { \"id\" : " + std::to_string(bass->id())
                                         + ", \"mute\" : true } ] } ] } }",
                                     mute));
    engine.ideaCollection()->handleJson(mute);
    ASSERT_TRUE(bass->isMuted());

    ASSERT_EQ(file.save(doc()), 0);
    engine.setTempo(150.0f);
    bridge.clear();
    ASSERT_EQ(file.open(doc(), ""), 0);

    EXPECT_FLOAT_EQ(Transport::instance().bpm(), 100.0f);
    EXPECT_FALSE(engine.project()->isModified());
    EXPECT_EQ(bridge.messages(), std::vector<std::string>({ "{ \"idea_collection\" : { \"just_loaded\" : \"true\" } }" }));
    const std::vector<Idea*> loaded = ideas();
    ASSERT_EQ(loaded.size(), 2u);
    EXPECT_EQ(loaded[0]->name(), "Verse");
    EXPECT_EQ(loaded[1]->name(), cloneName);
    EXPECT_EQ(engine.ideaCollection()->activeIdeaId(), loaded[0]->id());
    for (Idea* idea : loaded) {
        const auto loops = idea->loops();
        ASSERT_EQ(loops.size(), 2u);
        expectSameAudio(*loops[0], *drums);
        expectSameAudio(*loops[1], *bass); // a muted loop is saved with its audio
        // Each idea keeps which loops it mutes.
        const Json::Value listed = idea->toJson()["loops"];
        EXPECT_FALSE(listed[0]["mute"].asBool());
        EXPECT_EQ(listed[1]["mute"].asBool(), idea == loaded[1]) << idea->name();
        // notes() returns a copy: keep it, not a reference into it.
        const TimedMidiEventList gotNotes = loops[1]->notes(), wantNotes = bass->notes();
        const auto& got = gotNotes.events();
        const auto& want = wantNotes.events();
        ASSERT_EQ(got.size(), want.size());
        const double tickUs = 60e6 / (100.0 * 960.0);
        for (std::size_t i = 0; i < got.size(); ++i) {
            EXPECT_NEAR(double(got[i].first), double(want[i].first), tickUs) << i;
            EXPECT_EQ(got[i].second, want[i].second) << i;
        }
        EXPECT_TRUE(loops[0]->notes().events().empty());
    }
    // Clones shared their loops; each reopened idea has its own copies.
    EXPECT_NE(loaded[0]->loops()[0], loaded[1]->loops()[0]);
    // The first idea plays with every loop; the clone mutes its bass.
    EXPECT_FALSE(loaded[0]->loops()[1]->isMuted());
    EXPECT_TRUE(loaded[1]->loops()[1]->isMuted());
    engine.ideaCollection()->setActiveIdea(loaded[1]->id());
    EXPECT_TRUE(loaded[1]->loops()[1]->isMuted());
    EXPECT_FALSE(loaded[1]->loops()[0]->isMuted());
}

TEST_F(ProjectFileTest, ASaveWritesTheSongAsItWasAskedForAndEditsMadeMeanwhileStayUnsaved)
{
    Idea* verse = addIdea(engine, "Verse", { makeLoop(engine, 1000, constant(0.2f)) });
    engine.project()->setModified(true);
    // The song files' thread is held up, so the edits below come while the
    // save waits for it.
    std::promise<void> release;
    engine.songFiles()->post([future = release.get_future().share()] { future.wait(); });
    int result = -1;
    uint64_t changeCount = 0;
    engine.songFiles()->save(doc(), [&](int saved, uint64_t count, const std::string&) {
        result = saved;
        changeCount = count;
    });
    verse->setName("Chorus");
    verse->addLoop(makeLoop(engine, 2000, constant(0.1f)));
    engine.project()->setModified(true);
    release.set_value();
    engine.songFiles()->wait();

    ASSERT_EQ(result, 0);
    EXPECT_EQ(filesBelow(audioFolder()), std::set<std::string>({ "Verse.wav", "Verse.mid", "Verse", "Verse/loop0.wav" }));
    engine.project()->savedAt(changeCount);
    EXPECT_TRUE(engine.project()->isModified()) << "the rename and the new loop are not on disk";
    // The page heard how far the save came, then that it was done.
    std::vector<double> fractions;
    const std::vector<std::string> messages = bridge.messages();
    for (const std::string& m : messages)
        if (m.find("\"saving\"") != std::string::npos)
            fractions.push_back(std::stod(m.substr(m.find("\"fraction\" : ") + 13)));
    ASSERT_GE(fractions.size(), 3u);
    EXPECT_TRUE(std::is_sorted(fractions.begin(), fractions.end()));
    EXPECT_EQ(fractions.back(), 1.0) << "a first save, with no folder to set aside, comes all the way";
    EXPECT_NE(messages.back().find("\"saved\""), std::string::npos) << messages.back();

    bool saved = false;
    engine.songFiles()->save(doc(), [&](int r, uint64_t count, const std::string&) {
        saved = r == 0;
        changeCount = count;
    });
    engine.songFiles()->wait();
    ASSERT_TRUE(saved);
    engine.project()->savedAt(changeCount);
    EXPECT_FALSE(engine.project()->isModified());
}

TEST_F(ProjectFileTest, ASongIsReadWholeBeforeItReplacesTheOnePlaying)
{
    addIdea(engine, "Verse", { makeLoop(engine, 1000, constant(0.2f)) });
    ASSERT_EQ(file.save(doc()), 0);
    Idea* playing = addIdea(engine, "Playing", { makeLoop(engine, 500, constant(0.1f)) });
    engine.ideaCollection()->setActiveIdea(playing->id());
    const std::size_t pooled = engine.loopPool()->size();

    ProjectFile::LoadedSong song = ProjectFile::read(doc(), "", engine.loopPool());
    EXPECT_TRUE(song.opened);
    EXPECT_TRUE(song.failure.empty()) << song.failure;
    ASSERT_EQ(song.ideas.size(), 1u);
    EXPECT_EQ(ideas().size(), 2u) << "reading leaves the song alone";
    EXPECT_EQ(engine.ideaCollection()->activeIdea(), playing);
    EXPECT_EQ(engine.loopPool()->size(), pooled);

    file.adopt(song);
    ASSERT_EQ(ideas().size(), 1u);
    EXPECT_EQ(ideas()[0]->name(), "Verse");
    const std::shared_ptr<Loop> loop = ideas()[0]->loops().at(0);
    EXPECT_EQ(engine.loopPool()->getLoop(loop->id()), loop) << "the loop joined the pool";

    EXPECT_FALSE(ProjectFile::read(doc("Gone.zub"), "", engine.loopPool()).opened);
}

// A song at 90 bpm: a 16-beat loop with a note wrapped over its end (so a
// note on at 0) repeats under a 32-beat loop that holds a note never let go,
// beside a 4-beat loop. Saved, reopened and saved again, the idea's MIDI file
// is the same byte for byte: reopening adds no note on before the end of the
// repeated loop, and every loop reports the beats it had. A document from
// before loops kept their beats gives them from the loops' lengths.
TEST_F(ProjectFileTest, SaveReopenSaveGivesTheSameMidiFileAndEveryLoopItsBeats)
{
    ASSERT_EQ(engine.setTempo(90.0f), 0);
    std::shared_ptr<Loop> riff = makeLoop(engine, 470400, wave(0.01f, 0.3f));
    riff->setNumBeats(16);
    TimedMidiEventList wrapped;
    wrapped.addEvent(9000000, MidiMessage::noteOn(64, 60, 0));
    wrapped.addEvent(10666665, MidiMessage::noteOff(64, 60, 0));
    wrapped.addEventAtFront(0, MidiMessage::noteOn(64, 60, 0));
    wrapped.addEvent(250000, MidiMessage::noteOff(64, 60, 0));
    wrapped.addEvent(5000000, MidiMessage::noteOn(64, 64, 0));
    wrapped.addEvent(5500000, MidiMessage::noteOff(64, 64, 0));
    riff->setNotes(wrapped);
    std::shared_ptr<Loop> pad = makeLoop(engine, 940800, constant(0.1f));
    pad->setNumBeats(32);
    TimedMidiEventList held;
    held.addEvent(3000000, MidiMessage::noteOn(64, 48, 0));
    pad->setNotes(held);
    std::shared_ptr<Loop> shaker = makeLoop(engine, 117600, constant(0.05f));
    shaker->setNumBeats(4);
    addIdea(engine, "Verse", { riff, pad, shaker });
    const std::string mid = audioFolder() + "/Verse.mid";
    auto bytes = [](const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };

    ASSERT_EQ(file.save(doc()), 0);
    const std::string first = bytes(mid);
    for (int round = 0; round < 2; ++round) {
        ASSERT_EQ(file.open(doc(), ""), 0);
        ASSERT_EQ(file.save(doc()), 0);
        EXPECT_EQ(bytes(mid), first) << "save " << round + 2;
    }
    auto loopsOf = [this] { return ideas().at(0)->loops(); };
    std::vector<int> beats;
    for (const auto& loop : loopsOf())
        beats.push_back(loop->numBeats());
    EXPECT_EQ(beats, std::vector<int>({ 16, 32, 4 }));
    EXPECT_EQ(loopsOf()[0]->notes().events().size(), wrapped.events().size()) << "no stray note on";
    EXPECT_EQ(loopsOf()[1]->notes().events().size(), 2u) << "the held note ends with its loop";

    // The document as it was before it kept the beats.
    Json::Value root;
    {
        std::ifstream in(doc());
        in >> root;
    }
    ASSERT_TRUE(root["idea_folders"][0].isMember("loops"));
    root["idea_folders"][0].removeMember("loops");
    std::ofstream(doc()) << root;
    ASSERT_EQ(file.open(doc(), ""), 0);
    beats.clear();
    for (const auto& loop : loopsOf())
        beats.push_back(loop->numBeats());
    EXPECT_EQ(beats, std::vector<int>({ 16, 32, 4 }));
}

TEST_F(ProjectFileTest, ASecondSaveLeavesNoStaleIdeasOrLoops)
{
    std::shared_ptr<Loop> keep = makeLoop(engine, 500, constant(0.2f));
    std::shared_ptr<Loop> drop = makeLoop(engine, 800, constant(0.3f));
    Idea* a = addIdea(engine, "A", { keep, drop });
    addIdea(engine, "B", { makeLoop(engine, 600, constant(0.1f)) });
    ASSERT_EQ(file.save(doc()), 0);

    a->removeLoop(drop, false);
    engine.ideaCollection()->handleJson([&] {
        Json::Value m;
        m["idea_collection"]["ideas"][0]["id"] = ideas()[1]->id();
        m["idea_collection"]["ideas"][0]["_destroy"] = true;
        return m;
    }());
    ASSERT_EQ(ideas().size(), 1u);
    ASSERT_EQ(file.save(doc()), 0);
    EXPECT_EQ(filesBelow(audioFolder()), std::set<std::string>({ "A.wav", "A.mid", "A", "A/loop0.wav" }));

    ASSERT_EQ(file.open(doc(), ""), 0);
    ASSERT_EQ(ideas().size(), 1u);
    ASSERT_EQ(ideas()[0]->loops().size(), 1u);
    expectSameAudio(*ideas()[0]->loops()[0], *keep);
}

TEST_F(ProjectFileTest, AFailedSaveReportsAndKeepsThePreviousSaveWhole)
{
    addIdea(engine, "Old", { makeLoop(engine, 700, constant(0.25f)) });
    ASSERT_EQ(file.save(doc()), 0);
    const std::set<std::string> before = filesBelow(audioFolder());

    // The document's place is taken by a folder: the very last step fails.
    fs::rename(doc(), doc("kept.zub"));
    fs::create_directory(doc());
    std::ofstream(doc() + "/blocker") << "x";
    engine.clearProject();
    addIdea(engine, "New", { makeLoop(engine, 300, constant(0.5f)) });
    testing::internal::CaptureStderr();
    EXPECT_EQ(file.save(doc()), 1);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("the previous save is kept"), std::string::npos);
    EXPECT_EQ(filesBelow(audioFolder()), before);
    EXPECT_EQ(filesBelow(dir.path()).size(), 1u + 2u + before.size() + 1u) << "no staging folders left";

    // Failing before anything is written: a document below a file.
    EXPECT_EQ(file.save(dir.file("kept.zub/inside.zub")), 1);

    fs::remove_all(doc());
    fs::rename(doc("kept.zub"), doc());
    ASSERT_EQ(file.open(doc(), ""), 0);
    ASSERT_EQ(ideas().size(), 1u);
    EXPECT_EQ(ideas()[0]->name(), "Old");
}

TEST_F(ProjectFileTest, HostileIdeaNamesSaveInsideTheAudioFolderAndComeBack)
{
    const std::vector<std::string> names = { "../x", "a/b", "", "..", std::string(300, 'n'), "CON", "Same", "same",
        "line\nbreak" };
    for (const std::string& name : names)
        addIdea(engine, name, { makeLoop(engine, 256, constant(0.1f)) });
    ASSERT_EQ(file.save(doc()), 0);

    const std::set<std::string> top = filesBelow(dir.path());
    for (const std::string& path : top)
        EXPECT_TRUE(path == "My Song.zub" || path.rfind("My Song - Audio and MIDI", 0) == 0) << path;
    EXPECT_EQ(filesBelow(audioFolder()).size(), names.size() * 4);

    ASSERT_EQ(file.open(doc(), ""), 0);
    const std::vector<Idea*> loaded = ideas();
    ASSERT_EQ(loaded.size(), names.size());
    for (std::size_t i = 0; i < names.size(); ++i) {
        EXPECT_EQ(loaded[i]->name(), names[i]) << i;
        EXPECT_EQ(loaded[i]->loops().size(), 1u) << i;
    }
}

TEST_F(ProjectFileTest, OpenTakesTheGoodPartsOfADamagedFolder)
{
    std::shared_ptr<Loop> good = makeLoop(engine, 400, constant(0.2f));
    std::shared_ptr<Loop> last = makeLoop(engine, 400, constant(0.4f));
    std::shared_ptr<Loop> played = makeLoop(engine, 400, constant(0.3f));
    played->setNotes(notes({ { 1000, 60 } }, 2000));
    addIdea(engine, "A", { good, makeLoop(engine, 400, constant(0.4f)), last });
    addIdea(engine, "B", { played });
    ASSERT_EQ(file.save(doc()), 0);

    const std::string folder = audioFolder();
    std::ofstream(folder + "/stray.txt") << "not an idea";
    std::ofstream(folder + "/A/readme.txt") << "not a loop";
    std::ofstream(folder + "/A/loop1.wav", std::ios::trunc) << "RIFF but not really";
    std::ofstream(folder + "/B.mid", std::ios::trunc) << "MThd garbage";

    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    ASSERT_EQ(file.open(doc(), ""), 0);
    const std::string log = testing::internal::GetCapturedStdout() + testing::internal::GetCapturedStderr();
    EXPECT_NE(log.find("Kept an empty loop in place of the unreadable loop file " + folder + "/A/loop1.wav"),
        std::string::npos)
        << log;

    // The unreadable loop stays as an empty one, so the loop after it keeps its
    // number through the next save and open (compared with what was saved).
    std::vector<std::shared_ptr<Loop>> expected = { good, nullptr, last, played };
    for (int pass = 0; pass < 2; ++pass) {
        SCOPED_TRACE(pass == 0 ? "opened" : "saved and opened again");
        const std::vector<Idea*> loaded = ideas();
        ASSERT_EQ(loaded.size(), 2u);
        ASSERT_EQ(loaded[0]->loops().size(), 3u);
        expectSameAudio(*loaded[0]->loops()[0], *expected[0]);
        EXPECT_EQ(loaded[0]->loops()[1]->numFrames(), 0);
        expectSameAudio(*loaded[0]->loops()[2], *expected[2]);
        ASSERT_EQ(loaded[1]->loops().size(), 1u);
        expectSameAudio(*loaded[1]->loops()[0], *expected[3]);
        EXPECT_TRUE(loaded[1]->loops()[0]->notes().events().empty()) << "the damaged MIDI file gives no notes";
        if (pass == 0) {
            expected = { loaded[0]->loops()[0], nullptr, loaded[0]->loops()[2], loaded[1]->loops()[0] };
            ASSERT_EQ(file.save(doc()), 0);
            ASSERT_EQ(file.open(doc(), ""), 0);
        }
    }
    EXPECT_TRUE(fs::exists(folder + "/A/loop2.wav"));
}

TEST_F(ProjectFileTest, OpenFallsBackToTheDefaultTempoAndFindsSandboxFolders)
{
    struct Case { const char* text; float bpm; };
    const Case cases[] = {
        { "{ \"project\" : { \"bpm\" : 95.5 } }", 95.5f },
        { "// comment\n{ \"project\" : { \"bpm\" : 140 } }", 140.0f },
        { "{ \"project\" : { } }", 120.0f },
        { "{ \"project\" : { \"bpm\" : 0 } }", 120.0f },
        { "{ \"project\" : { \"bpm\" : 999 } }", 120.0f },
        { "{ \"project\" : { \"bpm\" : \"fast\" } }", 120.0f },
        { "{ \"project\" : { }, \"idea_folders\" : [ 1, { \"folder\" : \"..\" } ] }", 120.0f },
    };
    for (const Case& c : cases) {
        engine.setTempo(77.0f);
        std::ofstream(doc("t.zub")) << c.text;
        engine.project()->setModified(true);
        EXPECT_EQ(file.open(doc("t.zub"), ""), 0) << c.text;
        EXPECT_FLOAT_EQ(Transport::instance().bpm(), c.bpm) << c.text;
        EXPECT_FALSE(engine.project()->isModified());
    }

    // A sandbox guid puts the audio folder in the documents folder.
    TempDir documents;
    fs::create_directories(documents.path() / "Sandboxed - Audio and MIDI" / "Chorus");
    fs::create_directories(dir.path() / "Sandboxed - Audio and MIDI" / "Wrong");
    std::ofstream(doc("Sandboxed.zub")) << "{ \"project\" : { \"bpm\" : 90, \"mac_sandbox_guid\" : 12345678901 } }";
    ASSERT_EQ(file.open(doc("Sandboxed.zub"), documents.path().string()), 0);
    ASSERT_EQ(ideas().size(), 1u);
    EXPECT_EQ(ideas()[0]->name(), "Chorus");
}

// A document that cannot be opened says why and leaves the current song as
// it was: its ideas, its tempo and its unsaved changes. (A damaged document
// whose audio folder holds ideas opens those; see the damaged project tests.)
TEST_F(ProjectFileTest, AnUnreadableDocumentIsRefusedAndTheSongStays)
{
    fs::create_directory(doc("folder.zub"));
    std::ofstream(doc("big.zub")) << std::string(17 << 20, ' ');
    struct Case { std::string name, text, reason; };
    const std::vector<Case> cases = {
        { "missing.zub", "", "it cannot be read (No such file or directory)" },
        { "folder.zub", "", "it is a folder, not a song" },
        { "big.zub", "", "it is far too large to be a Motifo song" },
        { "text.zub", "not json", "it is not a Motifo song, or it is damaged" },
        { "empty.zub", "", "it is not a Motifo song, or it is damaged" },
        { "array.zub", "[1, 2]", "it is not a Motifo song, or it is damaged" },
        { "other.zub", "{ \"instrument\" : { } }", "it is not a Motifo song, or it is damaged" },
        { "number.zub", "{ \"project\" : 5 }", "it is not a Motifo song, or it is damaged" },
        { "wave.zub", "RIFF\x10\0\0\0WAVEfmt ", "it is not a Motifo song, or it is damaged" },
        { "deep.zub", "{ \"project\" : " + std::string(2000, '['), "it is not a Motifo song, or it is damaged" },
        { "/dev/zero", "", "it is not a file that holds a song" },
    };
    engine.setTempo(77.0f);
    addIdea(engine, "Kept", { makeLoop(engine, 300, constant(0.5f)) });
    engine.project()->setModified(true);
    bridge.clear();
    for (const Case& c : cases) {
        const std::string path = c.name[0] == '/' ? c.name : doc(c.name);
        if (!c.text.empty() || c.name == "empty.zub")
            std::ofstream(path) << c.text;
        EXPECT_EQ(file.open(path, ""), 1) << c.name;
        EXPECT_EQ(file.failure(), c.reason) << c.name;
    }
    EXPECT_FLOAT_EQ(Transport::instance().bpm(), 77.0f);
    ASSERT_EQ(ideas().size(), 1u);
    EXPECT_EQ(ideas()[0]->name(), "Kept");
    EXPECT_TRUE(engine.project()->isModified());
    EXPECT_TRUE(bridge.messages().empty()) << "the page was told nothing";
}

// A save that fails names the cause in the system's words.
TEST_F(ProjectFileTest, AFailedSaveSaysWhy)
{
    addIdea(engine, "Verse", { makeLoop(engine, 44100, constant(0.5f)) });
    std::ofstream(doc("a file")) << "x";
    EXPECT_EQ(file.save(doc("a file") + "/song.zub"), 1);
    EXPECT_EQ(file.failure(), "Not a directory");

    // The loop file cannot grow as a disk fills.
    const int result = underFileSizeLimit(50000, [&] { return file.save(doc()); });
    EXPECT_EQ(result, 1);
    EXPECT_EQ(file.failure(), "File too large");
    EXPECT_FALSE(fs::exists(doc())) << "nothing half-written is left";

    ASSERT_EQ(file.save(doc()), 0);
    EXPECT_EQ(file.failure(), "");
}

} // namespace
