// Saving and opening under real faults: a folder that turns read-only part way,
// a full disk, a process killed at every step of a save, and damaged files.

#include "engine/project.h"
#include "engine/projectfile.h"
#include "engine/recoverycopy.h"
#include "engine/songsnapshot.h"
#include "support/enginetest.h"
#include "support/tempdir.h"

#include "enginefakes.h"

#include <cmath>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <set>
#include <sstream>

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

constexpr uid_t kNobody = 65534;
// The loop files are 16-bit at half gain, read back doubled.
constexpr float kLoopTolerance = 5.0f / 32766.0f;

// What a project should open as: each idea's name and the level of each loop.
using Contents = std::vector<std::pair<std::string, std::vector<float>>>;

std::string readAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::set<std::string> namesIn(const fs::path& folder)
{
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.insert(entry.path().filename().string());
    return names;
}

// How a child process ended.
struct ChildEnd {
    int exitCode = -1; // -1 when killed
    int signal = 0;
};

// Runs body in a forked child with its output going to logPath; the child
// ends with body's return value.
ChildEnd runInChild(const std::string& logPath, const std::function<int()>& body)
{
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        const int log = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
        dup2(log, 1);
        dup2(log, 2);
        const int code = body();
        std::fflush(nullptr);
        _exit(code);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    ChildEnd end;
    if (WIFEXITED(status))
        end.exitCode = WEXITSTATUS(status);
    if (WIFSIGNALED(status))
        end.signal = WTERMSIG(status);
    return end;
}

// Runs body in a forked child (output to logPath) and kills it after delayMs,
// unless it ended first.
void killInChildAfter(const std::string& logPath, int delayMs, const std::function<int()>& body)
{
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        const int log = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
        dup2(log, 1);
        dup2(log, 2);
        _exit(body());
    }
    usleep(useconds_t(delayMs) * 1000);
    kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
}

// Root ignores permission bits: a child that must meet them gives up root
// for nobody, who owns the test folder. Returns false when that is refused.
bool becomeOwnerOf(const fs::path& folder)
{
    if (geteuid() != 0)
        return true;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        if (lchown(entry.path().c_str(), kNobody, kNobody) != 0)
            return false;
    return chown(folder.c_str(), kNobody, kNobody) == 0 && setgid(kNobody) == 0 && setuid(kNobody) == 0;
}

class ProjectFaultsTest : public EngineTest
{
protected:
    const Contents kPrevious { { "Verse", { 0.1f, 0.2f } }, { "Chorus \"big\"", { 0.3f } } };

    void SetUp() override
    {
        EngineTest::SetUp();
        fs::create_directory(root());
    }
    // The project lives one level down so that a fault can take its folder.
    fs::path root() const { return dir.path() / "songs"; }
    std::string doc() const { return (root() / "My Song.zub").string(); }
    std::string audioFolder() const { return ProjectFile::audioFolder(doc(), 0, ""); }
    std::string log() const { return dir.file("child.log"); }

    void build(const Contents& contents, int64 frames)
    {
        engine.clearProject();
        for (const auto& [name, levels] : contents) {
            std::vector<std::shared_ptr<Loop>> loops;
            for (float level : levels)
                loops.push_back(makeLoop(engine, frames, constant(level)));
            addIdea(engine, name, loops);
        }
    }
    // The previous save, then a larger new project in memory.
    void savePreviousThenBuildNew(int numIdeas = 6, int64 frames = 20000)
    {
        build(kPrevious, 3000);
        ASSERT_EQ(file.save(doc()), 0);
        build(newContents(numIdeas), frames);
    }
    static Contents newContents(int numIdeas)
    {
        Contents contents;
        for (int i = 0; i < numIdeas; ++i)
            contents.push_back({ "New " + std::to_string(i), { 0.05f * float(i + 1), 0.4f, 0.5f } });
        return contents;
    }
    // Opens the project and checks that it is exactly contents, and that no
    // file of an unfinished save is left beside it.
    void expectOpensAs(const Contents& contents)
    {
        ASSERT_EQ(file.open(doc(), ""), 0);
        const std::vector<Idea*> ideas = engine.ideaCollection()->ideas();
        ASSERT_EQ(ideas.size(), contents.size());
        for (std::size_t i = 0; i < ideas.size(); ++i) {
            EXPECT_EQ(ideas[i]->name(), contents[i].first);
            const auto loops = ideas[i]->loops();
            ASSERT_EQ(loops.size(), contents[i].second.size()) << contents[i].first;
            for (std::size_t j = 0; j < loops.size(); ++j) {
                EXPECT_NEAR(loops[j]->data()[0], contents[i].second[j], kLoopTolerance);
                EXPECT_NEAR(loops[j]->data()[2 * loops[j]->numFrames() - 1], contents[i].second[j], kLoopTolerance);
            }
        }
        EXPECT_EQ(namesIn(root()), std::set<std::string>({ "My Song.zub", "My Song - Audio and MIDI" }));
    }
    // After a killed save: the new save when its document went in, else the
    // previous one. Then back to the previous save on disk and the new project
    // in memory.
    void expectWholeSaveThenReset(bool newDocumentIn, int numIdeas, int64 frames)
    {
        testing::internal::CaptureStderr();
        expectOpensAs(newDocumentIn ? newContents(numIdeas) : kPrevious);
        testing::internal::GetCapturedStderr();
        if (newDocumentIn) {
            build(kPrevious, 3000);
            ASSERT_EQ(file.save(doc()), 0);
        }
        build(newContents(numIdeas), frames);
    }

    // A recovery copy of the song beside it, as the autosave writes one (the
    // recorder holding nothing).
    int writeCopy(const std::string& name)
    {
        return copy.write(SongSnapshot::take(engine), nullptr, { name, "", 1765400000 });
    }
    // A small song, copied as "Kept"; then a larger one in memory.
    void keepSmallThenBuildLarge(int numIdeas, int64 frames)
    {
        build({ { "Verse", { 0.1f } } }, 500);
        ASSERT_EQ(writeCopy("Kept"), 0) << copy.failure();
        build(newContents(numIdeas), frames);
    }
    // The copy there is whole and reads back as the song it names, the kept
    // one or the larger one ("Large"); returns its name.
    std::string expectWholeCopy(int numIdeas, int64 frames)
    {
        RecoveryCopy::Info info;
        EXPECT_TRUE(copy.find(info));
        RecoveryCopy::Recovered recovered;
        EXPECT_EQ(copy.read(engine.loopPool(), recovered), 0) << copy.failure();
        const bool large = info.song == "Large";
        EXPECT_TRUE(large || info.song == "Kept") << info.song;
        EXPECT_EQ(recovered.song.ideas.size(), large ? std::size_t(numIdeas) : 1u);
        for (const auto& idea : recovered.song.ideas)
            for (const auto& loop : idea->loops())
                EXPECT_EQ(loop->numFrames(), large ? frames : 500) << info.song;
        return info.song;
    }

    TempDir dir;
    ProjectFile file { &engine };
    RecoveryCopy copy { (root() / "Recovery").string() };
};

TEST_F(ProjectFaultsTest, AFolderTurningReadOnlyPartWayFailsTheSaveAndKeepsThePreviousOne)
{
    savePreviousThenBuildNew();
    struct Case {
        const char* what;
        int step;          // the save's step after which it happens
        std::string path;  // the folder made read-only
    };
    const std::string stage = audioFolder() + ".saving";
    const Case cases[] = {
        { "the new folder after its first file", 2, stage },
        { "the new folder half way", 12, stage },
        { "the last idea's loop folder", 23, stage + "/New 5" },
        { "the folder of the document before the swap", 32, root().string() },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const ChildEnd end = runInChild(log(), [&] {
            if (!becomeOwnerOf(dir.path()))
                return 77;
            int steps = 0;
            file.setStepHook([&](const std::string&) {
                if (++steps == c.step)
                    chmod(c.path.c_str(), 0555);
            });
            return file.save(doc());
        });
        if (end.exitCode == 77)
            GTEST_SKIP() << "cannot give up root for nobody here, so permissions cannot be taken away";
        EXPECT_EQ(end.exitCode, 1) << readAll(log());
        EXPECT_NE(readAll(log()).find("Failed to save " + doc() + "; the previous save is kept."), std::string::npos)
            << readAll(log());
        // The user puts the permission back; the unfinished save is cleared away on open.
        for (const auto& entry : fs::recursive_directory_iterator(root()))
            chmod(entry.path().c_str(), entry.is_directory() ? 0755 : 0644);
        chmod(root().c_str(), 0755);
        expectOpensAs(kPrevious);
        build(newContents(6), 20000);
    }
}

class DiskFullTest : public ProjectFaultsTest
{
protected:
    void SetUp() override
    {
        ProjectFaultsTest::SetUp();
        m_mounted = mount("tmpfs", root().c_str(), "tmpfs", 0, "size=2m") == 0;
        if (!m_mounted)
            GTEST_SKIP() << "cannot mount a small tmpfs here (needs root or CAP_SYS_ADMIN)";
    }
    void TearDown() override
    {
        if (m_mounted)
            umount2(root().c_str(), MNT_DETACH);
    }
    static uint64_t freeBytes(const fs::path& path)
    {
        struct statvfs fsStat {};
        statvfs(path.c_str(), &fsStat);
        return uint64_t(fsStat.f_bavail) * fsStat.f_frsize;
    }
    // Fills the disk until `left` bytes are free; returns the filler's path.
    std::string fillUpTo(uint64_t left) const
    {
        const std::string filler = (root() / "filler").string();
        std::ofstream out(filler, std::ios::binary);
        const std::string block(4096, 'x');
        while (freeBytes(root()) > left + block.size() && out)
            out.write(block.data(), block.size());
        return filler;
    }
    // With the disk full down to less and less room, up to none: write must
    // fail; once the filler is gone the disk is as free as before (what was
    // unfinished is cleared away), and then recovered checks what is kept.
    void eachTimeTheDiskIsFull(const std::function<void()>& write, const std::function<void()>& recovered)
    {
        const uint64_t freeBefore = freeBytes(root());
        for (const uint64_t left : { uint64_t(600000), uint64_t(100000), uint64_t(3000), uint64_t(0) }) {
            SCOPED_TRACE(left);
            const std::string filler = fillUpTo(left);
            write();
            fs::remove(filler);
            EXPECT_EQ(freeBytes(root()), freeBefore) << "the unfinished write is cleared away";
            recovered();
        }
    }
    bool m_mounted = false;
};

TEST_F(DiskFullTest, AFullDiskFailsTheSaveAndKeepsThePreviousOne)
{
    // The new project needs about 1 MB; the disk is left with less, down to nothing.
    savePreviousThenBuildNew(4, 20000);
    eachTimeTheDiskIsFull(
        [&] {
            testing::internal::CaptureStderr();
            EXPECT_EQ(file.save(doc()), 1);
            const std::string err = testing::internal::GetCapturedStderr();
            EXPECT_NE(err.find("the previous save is kept"), std::string::npos) << err;
        },
        [&] {
            expectOpensAs(kPrevious);
            build(newContents(4), 20000);
        });
    // With room again the same project saves.
    ASSERT_EQ(file.save(doc()), 0);
    expectOpensAs(newContents(4));
}

TEST_F(ProjectFaultsTest, AProcessKilledAtAnyStepOfASaveLeavesACompleteSave)
{
    savePreviousThenBuildNew(3, 4000);
    // A full save in a child tells how many steps it takes and which one puts
    // the new document in place.
    TempDir other;
    const std::string otherDoc = other.file("count.zub");
    const int numSteps = runInChild(log(), [&] {
        int count = 0;
        file.setStepHook([&](const std::string&) { ++count; });
        // The second save has an old folder to swap out.
        return file.save(otherDoc) == 0 && (count = 0, file.save(otherDoc) == 0) ? count : 255;
    }).exitCode;
    // The new folder, five files for each idea, then the swap's four steps.
    ASSERT_EQ(numSteps, 1 + 3 * 5 + 4) << readAll(log());
    const int documentStep = numSteps; // the last one: only the old folder's removal follows it
    for (int step = 1; step <= numSteps; ++step) {
        SCOPED_TRACE(step);
        const ChildEnd end = runInChild(log(), [&] {
            int count = 0;
            file.setStepHook([&](const std::string&) {
                if (++count == step)
                    raise(SIGKILL);
            });
            file.save(doc());
            return 0;
        });
        ASSERT_EQ(end.signal, SIGKILL);
        expectWholeSaveThenReset(step >= documentStep, 3, 4000);
    }
}

TEST_F(ProjectFaultsTest, AProcessKilledAtRandomMomentsOfALongSaveLeavesACompleteSave)
{
    savePreviousThenBuildNew(8, 200000);
    for (const int delayMs : { 5, 40, 120, 300, 700 }) {
        SCOPED_TRACE(delayMs);
        killInChildAfter(log(), delayMs, [&] { return file.save(doc()); });
        // Killed before the new document went in, or after: then the new save is whole.
        const bool finished = readAll(doc()).find("New 0") != std::string::npos;
        expectWholeSaveThenReset(finished, 8, 200000);
    }
}

TEST_F(ProjectFaultsTest, AnInterruptedSaveIsReportedAndUndoneOnOpen)
{
    // The moment between the old folder stepping aside and the new one moving in.
    savePreviousThenBuildNew(2, 2000);
    const ChildEnd end = runInChild(log(), [&] {
        file.setStepHook([&](const std::string& path) {
            if (path == audioFolder() + ".old")
                raise(SIGKILL);
        });
        return file.save(doc());
    });
    ASSERT_EQ(end.signal, SIGKILL);
    EXPECT_FALSE(fs::exists(audioFolder()));
    testing::internal::CaptureStderr();
    expectOpensAs(kPrevious);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("The last save of " + doc() + " was interrupted; the previous save is restored."),
        std::string::npos)
        << err;
}

using AutosaveFaultsTest = ProjectFaultsTest;

TEST_F(AutosaveFaultsTest, AProcessKilledWhileACopyIsWrittenLeavesAWholeCopy)
{
    constexpr int kIdeas = 6;
    constexpr int64 kFrames = 100000; // about 14 MB of copy, every file synced
    std::set<std::string> seen;
    for (const int delayMs : { 1, 10, 40, 120, 400 }) {
        SCOPED_TRACE(delayMs);
        keepSmallThenBuildLarge(kIdeas, kFrames);
        killInChildAfter(log(), delayMs, [&] { return writeCopy("Large"); });
        seen.insert(expectWholeCopy(kIdeas, kFrames));
        // The next copy clears what the killed one left.
        ASSERT_EQ(writeCopy("Large"), 0) << copy.failure();
        EXPECT_EQ(namesIn(root()), std::set<std::string>({ "Recovery" }));
    }
    EXPECT_TRUE(seen.count("Kept")) << "no kill came before the copy was swapped in";
}

using AutosaveDiskFullTest = DiskFullTest;

TEST_F(AutosaveDiskFullTest, AFullDiskFailsTheCopyAndKeepsThePreviousOne)
{
    // The larger song's copy needs about 1.3 MB of the 2 MB disk.
    keepSmallThenBuildLarge(4, 20000);
    eachTimeTheDiskIsFull(
        [&] {
            testing::internal::CaptureStderr();
            testing::internal::CaptureStdout();
            EXPECT_EQ(writeCopy("Large"), 1);
            testing::internal::GetCapturedStdout();
            testing::internal::GetCapturedStderr();
            EXPECT_NE(copy.failure(), "");
        },
        [&] { EXPECT_EQ(expectWholeCopy(4, 20000), "Kept"); });
    // With room again the copy is written.
    ASSERT_EQ(writeCopy("Large"), 0) << copy.failure();
    EXPECT_EQ(expectWholeCopy(4, 20000), "Large");
}

class DamagedProjectTest : public ProjectFaultsTest
{
protected:
    // Each idea's name and its loops' levels in hundredths (-1 for an empty loop), as opened.
    std::vector<std::pair<std::string, std::vector<int>>> opened(int expectedResult)
    {
        EXPECT_EQ(file.open(doc(), ""), expectedResult);
        std::vector<std::pair<std::string, std::vector<int>>> contents;
        for (Idea* idea : engine.ideaCollection()->ideas()) {
            std::vector<int> levels;
            for (const auto& loop : idea->loops())
                levels.push_back(loop->numFrames() == 0 ? -1 : int(std::lround(loop->data()[0] * 100.0f)));
            contents.push_back({ idea->name(), levels });
        }
        return contents;
    }
};

TEST_F(DamagedProjectTest, OpenTakesTheGoodPartsAndNamesWhatItLeftOut)
{
    using Levels = std::vector<std::pair<std::string, std::vector<int>>>;
    const std::string folder = audioFolder();
    const auto cut = [](const std::string& path, double keep) {
        fs::resize_file(path, std::uintmax_t(double(fs::file_size(path)) * keep));
    };
    const auto garbage = [](const std::string& path, const std::string& head) {
        std::string bytes = head;
        for (int i = 0; i < 5000; ++i)
            bytes += char((i * 7919) >> 3);
        std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
    };
    struct Case {
        const char* what;
        std::function<void()> damage;
        int result;
        Levels contents;
        std::string logLine;
    };
    // An unreadable loop file leaves an empty loop in its place: the loops after it keep their numbers.
    const std::string kept = "Kept an empty loop in place of the unreadable loop file ";
    const Levels whole = { { "A \"1\"", { 20, 40 } }, { "B/2", { 30 } } };
    const Case cases[] = {
        { "a loop file cut in half", [&] { cut(folder + "/A _1_/loop0.wav", 0.5); }, 0, whole,
            "WAV data of " + folder + "/A _1_/loop0.wav ends early" },
        { "a loop file cut inside its header", [&] { cut(folder + "/A _1_/loop1.wav", 0.0005); }, 0,
            { { "A \"1\"", { 20, -1 } }, { "B/2", { 30 } } },
            kept + folder + "/A _1_/loop1.wav" },
        { "an empty loop file", [&] { cut(folder + "/B_2/loop0.wav", 0.0); }, 0,
            { { "A \"1\"", { 20, 40 } }, { "B/2", { -1 } } }, kept + folder + "/B_2/loop0.wav" },
        { "a loop file swapped for garbage", [&] { garbage(folder + "/A _1_/loop0.wav", "RIFF"); }, 0,
            { { "A \"1\"", { -1, 40 } }, { "B/2", { 30 } } },
            kept + folder + "/A _1_/loop0.wav" },
        { "a folder in a loop file's place",
            [&] {
                fs::remove(folder + "/A _1_/loop1.wav");
                fs::create_directory(folder + "/A _1_/loop1.wav");
            },
            0, { { "A \"1\"", { 20, -1 } }, { "B/2", { 30 } } }, kept },
        { "the MIDI file cut in half", [&] { cut(folder + "/B_2.mid", 0.5); }, 0, whole, "" },
        { "the idea's mixdown swapped for garbage", [&] { garbage(folder + "/A _1_.wav", ""); }, 0, whole, "" },
        // Without the document the ideas keep their folders' names.
        { "the document cut in half", [&] { cut(doc(), 0.5); }, 0, { { "A _1_", { 20, 40 } }, { "B_2", { 30 } } },
            "Failed to read the project document " + doc() + "; opening the ideas found in its audio folder." },
        { "the document swapped for garbage", [&] { garbage(doc(), "{"); }, 0,
            { { "A _1_", { 20, 40 } }, { "B_2", { 30 } } }, "Failed to read the project document" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        engine.clearProject();
        addIdea(engine, "A \"1\"", { makeLoop(engine, 3000, constant(0.2f)), makeLoop(engine, 3000, constant(0.4f)) });
        std::shared_ptr<Loop> played = makeLoop(engine, 3000, constant(0.3f));
        TimedMidiEventList notes;
        for (int64 t = 0; t < 60000; t += 5000) {
            notes.addEvent(t, MidiMessage::noteOn(100, 60, 0));
            notes.addEvent(t + 2000, MidiMessage::noteOff(0, 60, 0));
        }
        played->setNotes(notes);
        addIdea(engine, "B/2", { played });
        testing::internal::CaptureStdout();
        ASSERT_EQ(file.save(doc()), 0);
        testing::internal::GetCapturedStdout();

        c.damage();
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        const Levels got = opened(c.result);
        const std::string log = testing::internal::GetCapturedStdout() + testing::internal::GetCapturedStderr();
        EXPECT_EQ(got, c.contents);
        EXPECT_NE(log.find(c.logLine), std::string::npos) << log;
        fs::remove_all(folder + "/A _1_/loop1.wav");
    }
}

} // namespace
