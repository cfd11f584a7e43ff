#include "engine/projectfile.h"

#include "core/fileops.h"
#include "core/jsonfield.h"
#include "core/log.h"
#include "core/nativejsbridge.h"
#include "engine/ideafilenames.h"
#include "engine/loopaudiosource.h"
#include "engine/project.h"
#include "engine/renderer.h"
#include "engine/transport.h"
#include "engine/zubengine.h"
#include "formats/looptrack.h"
#include "formats/midiwriter.h"
#include "loops/idea.h"
#include "loops/ideacollection.h"
#include "loops/loop.h"
#include "loops/looppool.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <system_error>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

constexpr double kFallbackBpm = 120.0;
// More beats than any loop can have is taken as not given.
constexpr long long kMaxLoopBeats = 1 << 16;
// A song document is a few kilobytes; anything far larger is another file.
constexpr std::uintmax_t kMaxDocumentBytes = 16u << 20;

// why, when given, receives the system's words for a failure.
bool renamed(const std::string& from, const std::string& to, std::string* why = nullptr)
{
    std::error_code ec;
    fs::rename(from, to, ec);
    if (ec) {
        if (why)
            *why = ec.message();
        logError() << "Failed to move " << from << " to " << to << ": " << ec.message();
    }
    return !ec;
}

// The beats of an idea's loops and which of them the idea mutes, as the
// document lists them in the order of the files. Beats are 0 where an entry
// gives none (they then come from the length); older documents list neither,
// and their loops play.
void readLoopEntries(const Json::Value& idea, std::vector<int>& beats, std::vector<bool>& mutes)
{
    const Json::Value& loops = idea["loops"];
    for (Json::ArrayIndex i = 0; loops.isArray() && i < loops.size(); ++i) {
        const bool given = loops[i].isObject();
        const long long n = given ? JsonField::toInt64(loops[i]["num_beats"], 0) : 0;
        beats.push_back(n >= 1 && n <= kMaxLoopBeats ? int(n) : 0);
        mutes.push_back(given && JsonField::toBool(loops[i]["muted"], false));
    }
}

} // namespace

// Writes source into path as a WAV file. Returns 0, or 1 with a log line.
int ProjectFile::renderFile(const std::string& path, PlaybackEngine* source, int64 numFrames)
{
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) {
        fail(FileOps::lastError());
        logError() << "Failed to open " << path << " for writing.";
        return 1;
    }
    const bool rendered = Renderer::renderToWav(file, source, numFrames, 0.5f) == 0;
    const int renderError = rendered ? 0 : errno;
    const bool closed = std::fclose(file) == 0;
    if (rendered && closed)
        return 0;
    if (!closed || renderError == 0)
        errno = closed ? EIO : errno;
    else
        errno = renderError;
    fail(FileOps::lastError());
    logError() << "Failed to write " << path;
    return 1;
}

// Writes the whole text to path, flushed to the disk. Returns true on success.
bool ProjectFile::writeSynced(const std::string& path, const std::string& text)
{
    std::FILE* file = std::fopen(path.c_str(), "wb");
    bool ok = file && std::fwrite(text.data(), 1, text.size(), file) == text.size() && std::fflush(file) == 0
        && fsync(fileno(file)) == 0;
    if (!ok)
        fail(FileOps::lastError());
    if (file && std::fclose(file) != 0 && ok) {
        fail(FileOps::lastError());
        ok = false;
    }
    if (!ok)
        std::remove(path.c_str());
    return ok;
}


// The names a save works under beside the document and its audio folder.
struct ProjectFile::SavePaths {
    explicit SavePaths(const std::string& documentPath)
        : document(fs::absolute(documentPath).string())
        , folder(audioFolder(document, 0, std::string()))
        , stage(folder + ".saving")
        , old(folder + ".old")
        , documentTemp(document + ".saving")
    {
    }
    std::string document, folder, stage, old, documentTemp;
};

ProjectFile::ProjectFile(ZubEngine* engine)
    : m_pEngine(engine)
{
}

std::string ProjectFile::audioFolderName(const std::string& documentPath)
{
    return fs::path(documentPath).stem().string() + " - Audio and MIDI";
}

std::string ProjectFile::audioFolder(const std::string& documentPath, int64 guid, const std::string& documentsFolder)
{
    const std::string base = guid != 0 ? documentsFolder : fs::absolute(documentPath).parent_path().string();
    return base + "/" + audioFolderName(documentPath);
}

std::vector<std::string> ProjectFile::ideaFileNames() const
{
    std::vector<std::string> names;
    for (const SongSnapshot::IdeaEntry& idea : SongSnapshot::take(*m_pEngine).ideas)
        names.push_back(idea.fileName);
    return names;
}

int ProjectFile::writeIdeaAudio(const std::string& folder, const SongSnapshot::IdeaEntry& idea)
{
    std::vector<LoopAudioSource::Part> heard;
    int64 longest = 0;
    for (const SongSnapshot::LoopEntry& loop : idea.loops) {
        longest = std::max<int64>(longest, static_cast<uint32_t>(loop.frames));
        if (!loop.muted)
            heard.push_back({ loop.audio, loop.frames });
    }
    // The idea as it plays: its loops that are not muted, each repeating.
    LoopAudioSource mixdown(std::move(heard), true);
    const std::string mixdownPath = folder + "/" + idea.fileName + ".wav";
    int failed = renderFile(mixdownPath, &mixdown, longest);
    reached(mixdownPath);

    const std::string loopFolder = folder + "/" + idea.fileName;
    std::error_code ec;
    fs::create_directory(loopFolder, ec);
    if (ec) {
        fail(ec.message());
        logError() << "Failed to create " << loopFolder << ": " << ec.message();
        return 1;
    }
    for (std::size_t i = 0; i < idea.loops.size(); ++i) {
        // The loop's own audio: a muted loop must not be saved as silence.
        LoopAudioSource source({ { idea.loops[i].audio, idea.loops[i].frames } }, false);
        const std::string path = loopFolder + "/loop" + std::to_string(i) + ".wav";
        failed |= renderFile(path, &source, idea.loops[i].frames);
        reached(path);
    }
    return failed;
}

int ProjectFile::saveAudio(const std::string& folder)
{
    return writeAudio(SongSnapshot::take(*m_pEngine), folder);
}

int ProjectFile::writeAudio(const SongSnapshot& song, const std::string& folder)
{
    int failed = 0;
    for (const SongSnapshot::IdeaEntry& idea : song.ideas)
        failed |= writeIdeaAudio(folder, idea);
    return failed;
}

int ProjectFile::writeIdeaMidi(const std::string& folder, const SongSnapshot::IdeaEntry& idea, float bpm)
{
    const std::string path = folder + "/" + idea.fileName + ".mid";
    MidiWriter writer;
    if (writer.open(path) != 0) {
        fail(FileOps::lastError());
        logError() << "Failed to open " << path << " for writing.";
        return 1;
    }
    int64 longest = 0;
    for (const SongSnapshot::LoopEntry& loop : idea.loops)
        longest = std::max<int64>(longest, static_cast<uint32_t>(loop.frames));
    const double longestSeconds = double(longest) / ZUB_SAMPLE_RATE;
    int failed = 0;
    for (const SongSnapshot::LoopEntry& loop : idea.loops) {
        // The loop keeps its notes in time order already; none is left sounding.
        const int64 frames = loop.frames;
        const TimedMidiEventList notes = LoopTrack::notesToWrite(*loop.notes, framesToMicroseconds(frames));
        for (const auto& [time, message] : notes.events())
            logDebug() << time << " " << int(message.data1());
        // Every track spans the idea's longest loop and ends with it.
        failed |= writer.writeTrack(bpm, notes, double(frames) / ZUB_SAMPLE_RATE, LoopTrack::repetitions(longest, frames),
                                    longestSeconds);
    }
    errno = 0;
    failed |= writer.close();
    reached(path);
    if (failed) {
        fail(errno != 0 ? FileOps::lastError() : "the MIDI file could not be written");
        logError() << "Failed to write " << path;
    }
    return failed;
}

int ProjectFile::saveMidi(const std::string& folder)
{
    return writeMidi(SongSnapshot::take(*m_pEngine), folder);
}

int ProjectFile::writeMidi(const SongSnapshot& song, const std::string& folder)
{
    int failed = 0;
    for (const SongSnapshot::IdeaEntry& idea : song.ideas)
        failed |= writeIdeaMidi(folder, idea, song.bpm);
    return failed;
}

std::string ProjectFile::documentText(const SongSnapshot& song)
{
    Json::Value root(Json::objectValue);
    Json::Value& project = root["project"];
    project["bpm"] = double(song.bpm);
    project["modified_since_last_save"] = false;
    // Folder names are made safe; the ideas keep their real names here.
    Json::Value& folders = root["idea_folders"] = Json::Value(Json::arrayValue);
    for (const SongSnapshot::IdeaEntry& idea : song.ideas) {
        Json::Value entry(Json::objectValue);
        entry["folder"] = idea.fileName;
        entry["name"] = idea.name;
        // The beats of each loop and whether this idea mutes it, in the
        // order of its files.
        Json::Value& loops = entry["loops"] = Json::Value(Json::arrayValue);
        for (const SongSnapshot::LoopEntry& loop : idea.loops) {
            Json::Value l(Json::objectValue);
            l["num_beats"] = loop.numBeats;
            l["muted"] = loop.muted;
            loops.append(l);
        }
        folders.append(entry);
    }
    return JsonField::styled(root);
}

int ProjectFile::recoverInterruptedSave(const std::string& documentPath)
{
    const SavePaths paths(documentPath);
    if (!FileOps::exists(paths.old)) {
        // Stopped before the swap began: the previous save is untouched.
        FileOps::removeAll(paths.stage);
        std::remove(paths.documentTemp.c_str());
        return 0;
    }
    // The old folder steps aside only after the new document is on disk, and
    // the new document goes in last: its temporary file still being there
    // means the swap did not finish.
    const bool documentPending = FileOps::exists(paths.documentTemp);
    if (FileOps::exists(paths.folder) && !documentPending) {
        FileOps::removeAll(paths.old);
        return FileOps::exists(paths.old) ? 1 : 0;
    }
    FileOps::removeAll(paths.stage);
    if (FileOps::exists(paths.folder) && !renamed(paths.folder, paths.stage))
        return 1;
    if (!renamed(paths.old, paths.folder))
        return 1;
    FileOps::removeAll(paths.stage);
    std::remove(paths.documentTemp.c_str());
    logError() << "The last save of " << paths.document << " was interrupted; the previous save is restored.";
    return 0;
}

int ProjectFile::save(const std::string& documentPath)
{
    if (write(SongSnapshot::take(*m_pEngine), documentPath) != 0)
        return 1;
    m_pEngine->project()->setModified(false);
    return 0;
}

int ProjectFile::write(const SongSnapshot& song, const std::string& documentPath, const Progress& progress)
{
    m_failure.clear();
    const SavePaths paths(documentPath);
    m_progress = progress;
    m_iFilesWritten = 0;
    // The stage folder, a mixdown, loop files and notes per idea, the
    // document and the steps of the swap (the old folder's only when there is one).
    m_iFilesToWrite = FileOps::exists(paths.folder) ? 5 : 4;
    for (const SongSnapshot::IdeaEntry& idea : song.ideas)
        m_iFilesToWrite += 2 + int(idea.loops.size());
    if (recoverInterruptedSave(documentPath) != 0 || FileOps::exists(paths.stage)) {
        fail("an earlier save left files beside it that cannot be removed");
        logError() << "Failed to save " << paths.document << ": an earlier save left files that cannot be removed.";
        return 1;
    }
    std::error_code ec;
    if (!fs::create_directory(paths.stage, ec)) {
        fail(ec ? ec.message() : "a folder of that name is in the way");
        logError() << "Failed to create " << paths.stage << ": " << ec.message();
        return 1;
    }
    reached(paths.stage);
    const int written = writeAudio(song, paths.stage) | writeMidi(song, paths.stage);
    const bool documentWritten = written == 0 && writeSynced(paths.documentTemp, documentText(song));
    if (documentWritten)
        reached(paths.documentTemp);
    if (!documentWritten || swapIn(paths) != 0) {
        FileOps::removeAll(paths.stage);
        std::remove(paths.documentTemp.c_str());
        logError() << "Failed to save " << paths.document << "; the previous save is kept.";
        return 1;
    }
    return 0;
}

int ProjectFile::swapIn(const SavePaths& paths)
{
    // The old folder steps aside, the new one takes its name, then the document.
    std::string why;
    const bool hadFolder = FileOps::exists(paths.folder);
    const bool asideOk = !hadFolder || renamed(paths.folder, paths.old, &why);
    if (asideOk && hadFolder)
        reached(paths.old);
    const bool folderOk = asideOk && renamed(paths.stage, paths.folder, &why);
    if (folderOk)
        reached(paths.folder);
    const bool documentOk = folderOk && renamed(paths.documentTemp, paths.document, &why);
    if (!documentOk) {
        fail(why);
        if (folderOk)
            renamed(paths.folder, paths.stage);
        if (hadFolder && asideOk)
            renamed(paths.old, paths.folder);
        return 1;
    }
    reached(paths.document);
    if (hadFolder)
        FileOps::removeAll(paths.old);
    return 0;
}

void ProjectFile::setStepHook(std::function<void(const std::string&)> hook)
{
    m_stepHook = std::move(hook);
}

void ProjectFile::reached(const std::string& path)
{
    if (m_stepHook)
        m_stepHook(path);
    if (m_progress && m_iFilesToWrite > 0)
        m_progress(std::min(1.0, double(++m_iFilesWritten) / m_iFilesToWrite));
}

std::vector<std::unique_ptr<Idea>> ProjectFile::readIdeas(const std::string& folder,
                                                          const std::vector<NamedIdea>& named, double bpm,
                                                          LoopPool* loopPool)
{
    std::vector<std::string> subfolders;
    std::error_code ec;
    fs::directory_iterator it(folder, ec);
    if (ec)
        logError() << "Couldn't open directory: " << folder;
    for (; !ec && it != fs::directory_iterator(); it.increment(ec))
        if (it->is_directory(ec))
            subfolders.push_back(it->path().filename().string());
    std::sort(subfolders.begin(), subfolders.end());

    // The document's order and names first, then folders it does not know.
    std::vector<NamedIdea> ideas;
    for (const NamedIdea& entry : named) {
        auto found = std::find(subfolders.begin(), subfolders.end(), entry.folder);
        if (found == subfolders.end())
            continue;
        ideas.push_back(entry);
        subfolders.erase(found);
    }
    for (const std::string& name : subfolders)
        ideas.push_back({ name, name, {}, {} });

    std::vector<std::unique_ptr<Idea>> loaded;
    for (const NamedIdea& idea : ideas) {
        loaded.push_back(IdeaCollection::readIdea(folder + "/" + idea.folder, idea.folder, loopPool, bpm,
                                                  idea.loopBeats));
        loaded.back()->setName(idea.name);
        // The idea plays nowhere yet: its loops take its mutes at once.
        const auto loops = loaded.back()->loops();
        for (std::size_t i = 0; i < loops.size() && i < idea.loopMutes.size(); ++i)
            loops[i]->setMute(idea.loopMutes[i], true);
        loaded.back()->saveLoopStates();
    }
    return loaded;
}

std::string ProjectFile::readDocument(const std::string& documentPath, Json::Value& root, bool* damaged)
{
    if (damaged)
        *damaged = false;
    std::error_code ec;
    const fs::file_status status = fs::status(documentPath, ec);
    if (ec)
        return "it cannot be read (" + ec.message() + ")";
    if (fs::is_directory(status))
        return "it is a folder, not a song";
    if (!fs::is_regular_file(status))
        return "it is not a file that holds a song";
    const std::uintmax_t size = fs::file_size(documentPath, ec);
    if (!ec && size > kMaxDocumentBytes)
        return "it is far too large to be a Motifo song";
    std::ifstream in(documentPath, std::ios::binary);
    if (!in)
        return "it cannot be read (" + FileOps::lastError() + ")";
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad())
        return "it cannot be read (" + FileOps::lastError() + ")";

    if (JsonField::parse(text.str(), root) && root.isObject() && root["project"].isObject())
        return {};
    if (damaged)
        *damaged = true;
    return "it is not a Motifo song, or it is damaged";
}

bool ProjectFile::audioFolderHoldsIdeas(const std::string& documentPath)
{
    std::error_code ec;
    for (fs::directory_iterator it(audioFolder(documentPath, 0, std::string()), ec);
         !ec && it != fs::directory_iterator(); it.increment(ec))
        if (it->is_directory(ec))
            return true;
    return false;
}

ProjectFile::LoadedSong ProjectFile::read(const std::string& documentPath, const std::string& documentsFolder,
                                          LoopPool* loopPool)
{
    LoadedSong song;
    song.documentPath = documentPath;
    recoverInterruptedSave(documentPath);
    // Nothing of the current song goes before the new one is known to be
    // there: a good document, or a damaged one whose audio folder holds ideas.
    Json::Value root;
    bool damaged = false;
    song.failure = readDocument(documentPath, root, &damaged);
    const bool folderOnly = !song.failure.empty();
    if (folderOnly && !(damaged && audioFolderHoldsIdeas(documentPath))) {
        logError() << "Failed to open " << documentPath << ": " << song.failure << "; the current song stays open.";
        return song;
    }
    if (folderOnly) {
        root = Json::Value(); // a parser that gave up may leave a part behind
        logError() << "Failed to read the project document " << documentPath
                   << "; opening the ideas found in its audio folder.";
    }
    song.opened = true;
    const Json::Value& project = root["project"];
    const double bpm = project.isObject() ? JsonField::toDouble(project["bpm"], 0.0) : 0.0;
    if (bpm >= ZUB_MIN_BPM && bpm <= ZUB_MAX_BPM) {
        song.bpm = float(bpm);
        logInfo() << "Read the tempo and set it as: " << bpm;
    } else {
        song.bpm = float(kFallbackBpm);
        logInfo() << "Failed to find tempo in project file, defaulting to 120 bpm.";
    }
    const int64 guid = project.isObject() ? JsonField::toInt64(project["mac_sandbox_guid"], 0) : 0;

    // Only plain folder names from the document: it must not lead outside.
    std::vector<NamedIdea> named;
    const Json::Value& folders = root["idea_folders"];
    for (Json::ArrayIndex i = 0; folders.isArray() && i < folders.size(); ++i) {
        if (!folders[i].isObject())
            continue;
        const std::string folder = JsonField::toString(folders[i]["folder"], std::string());
        if (!IdeaFileNames::isSafe(folder))
            continue;
        NamedIdea& idea = named.emplace_back(
            NamedIdea { folder, JsonField::toString(folders[i]["name"], folder), {}, {} });
        readLoopEntries(folders[i], idea.loopBeats, idea.loopMutes);
    }
    // The loops play at the tempo the transport will take, a float.
    song.ideas = readIdeas(audioFolder(documentPath, guid, documentsFolder), named, double(song.bpm), loopPool);
    return song;
}

int ProjectFile::adopt(LoadedSong& song)
{
    m_failure = song.failure;
    if (!song.opened)
        return 1;
    m_pEngine->clearProject();
    m_pEngine->setTempo(song.bpm);
    for (std::unique_ptr<Idea>& idea : song.ideas)
        m_pEngine->ideaCollection()->adoptIdea(std::move(idea));
    song.ideas.clear();
    if (NativeJsBridge* bridge = m_pEngine->jsBridge())
        bridge->deliverMessage("{ \"idea_collection\" : { \"just_loaded\" : \"true\" } }");
    m_pEngine->project()->setModified(false);
    return 0;
}

int ProjectFile::open(const std::string& documentPath, const std::string& documentsFolder)
{
    LoadedSong song = read(documentPath, documentsFolder, m_pEngine->loopPool());
    return adopt(song);
}

void ProjectFile::fail(const std::string& reason)
{
    // The first failure is the cause; later ones follow from it.
    if (m_failure.empty())
        m_failure = reason;
}
