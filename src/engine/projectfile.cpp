#include "engine/projectfile.h"

#include "engine/ideafilenames.h"
#include "engine/jsonfield.h"
#include "engine/loopaudiosource.h"
#include "engine/nativejsbridge.h"
#include "engine/offlinesection.h"
#include "engine/project.h"
#include "engine/renderer.h"
#include "engine/transport.h"
#include "engine/zubengine.h"
#include "loops/idea.h"
#include "loops/ideacollection.h"
#include "loops/loop.h"
#include "loops/midiwriter.h"

#include <json/reader.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

constexpr double kFallbackBpm = 120.0;

// Writes source into path as a WAV file. Returns 0, or 1 with a log line.
int renderFile(const std::string& path, PlaybackEngine* source, int64 numFrames)
{
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) {
        std::cerr << "Failed to open " << path << " for writing." << std::endl;
        return 1;
    }
    const int rendered = Renderer::renderToWav(file, source, numFrames, 0.5f);
    if (std::fclose(file) != 0 || rendered != 0) {
        std::cerr << "Failed to write " << path << std::endl;
        return 1;
    }
    return 0;
}

// A fresh, empty directory named after base; empty on failure.
std::string makeUniqueDirectory(const std::string& base)
{
    std::string pattern = base + "-XXXXXX";
    return mkdtemp(pattern.data()) ? pattern : std::string();
}

// Writes the whole text to a new file beside path; its name, or empty on failure.
std::string writeBeside(const std::string& path, const std::string& text)
{
    std::string temp = path + ".saving-XXXXXX";
    const int fd = mkstemp(temp.data());
    if (fd < 0)
        return {};
    std::FILE* file = fdopen(fd, "wb");
    bool ok = file && std::fwrite(text.data(), 1, text.size(), file) == text.size() && std::fflush(file) == 0
        && fsync(fd) == 0;
    ok = (file ? std::fclose(file) == 0 : ::close(fd) == 0) && ok;
    if (!ok) {
        std::remove(temp.c_str());
        return {};
    }
    return temp;
}

bool renamed(const std::string& from, const std::string& to)
{
    std::error_code ec;
    fs::rename(from, to, ec);
    if (ec)
        std::cerr << "Failed to move " << from << " to " << to << ": " << ec.message() << std::endl;
    return !ec;
}

void removeAll(const std::string& path)
{
    std::error_code ec;
    if (!path.empty())
        fs::remove_all(path, ec);
}

} // namespace

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

std::vector<ProjectFile::SavedIdea> ProjectFile::savedIdeas() const
{
    std::vector<SavedIdea> saved;
    std::vector<std::string> names;
    for (Idea* idea : m_pEngine->ideaCollection()->ideas()) {
        int numLoops = 0;
        idea->maxLoopLengthFrames(&numLoops);
        if (numLoops == 0)
            continue; // nothing of it would come back
        saved.push_back({ idea, {} });
        names.push_back(idea->name());
    }
    names = IdeaFileNames::forIdeas(names);
    for (std::size_t i = 0; i < saved.size(); ++i)
        saved[i].fileName = names[i];
    return saved;
}

std::vector<std::string> ProjectFile::ideaFileNames() const
{
    std::vector<std::string> names;
    for (const SavedIdea& saved : savedIdeas())
        names.push_back(saved.fileName);
    return names;
}

int ProjectFile::writeIdeaAudio(const std::string& folder, const SavedIdea& saved)
{
    Idea* idea = saved.idea;
    idea->syncPlayPos(0);
    int failed = renderFile(folder + "/" + saved.fileName + ".wav", idea, idea->maxLoopLengthFrames());

    const std::string loopFolder = folder + "/" + saved.fileName;
    std::error_code ec;
    fs::create_directory(loopFolder, ec);
    if (ec) {
        std::cerr << "Failed to create " << loopFolder << ": " << ec.message() << std::endl;
        return 1;
    }
    const std::vector<std::shared_ptr<Loop>> loops = idea->loops();
    for (std::size_t i = 0; i < loops.size(); ++i) {
        // The loop's own audio: a muted loop must not be saved as silence.
        LoopAudioSource source(loops[i]);
        failed |= renderFile(loopFolder + "/loop" + std::to_string(i) + ".wav", &source, loops[i]->numFrames());
    }
    return failed;
}

int ProjectFile::saveAudio(const std::string& folder)
{
    OfflineSection offline(*m_pEngine->transport(), m_pEngine->audioInterface());
    int failed = 0;
    for (const SavedIdea& saved : savedIdeas())
        failed |= writeIdeaAudio(folder, saved);
    return failed;
}

int ProjectFile::writeIdeaMidi(const std::string& folder, const SavedIdea& saved)
{
    const std::string path = folder + "/" + saved.fileName + ".mid";
    MidiWriter writer;
    if (writer.open(path) != 0) {
        std::cerr << "Failed to open " << path << " for writing." << std::endl;
        return 1;
    }
    const float bpm = m_pEngine->transport()->bpm();
    const int64 longest = saved.idea->maxLoopLengthFrames();
    int failed = 0;
    for (const std::shared_ptr<Loop>& loop : saved.idea->loops()) {
        // The loop keeps its notes in time order already.
        const TimedMidiEventList notes = loop->notes();
        for (const auto& [time, message] : notes.events())
            std::cout << time << " " << int(message.data1()) << std::endl;
        // Every track spans the idea's longest loop.
        const int64 frames = loop->numFrames();
        const int repetitions = int(std::clamp<int64>(frames > 0 ? longest / frames : 1, 1, INT_MAX));
        failed |= writer.writeTrack(bpm, notes, loop->lengthSeconds(), repetitions);
    }
    failed |= writer.close();
    if (failed)
        std::cerr << "Failed to write " << path << std::endl;
    return failed;
}

int ProjectFile::saveMidi(const std::string& folder)
{
    int failed = 0;
    for (const SavedIdea& saved : savedIdeas())
        failed |= writeIdeaMidi(folder, saved);
    return failed;
}

std::string ProjectFile::documentText() const
{
    Json::Value root(Json::objectValue);
    Json::Value& project = root["project"];
    project["bpm"] = double(m_pEngine->transport()->bpm());
    project["modified_since_last_save"] = false;
    // Folder names are made safe; the ideas keep their real names here.
    Json::Value& folders = root["idea_folders"] = Json::Value(Json::arrayValue);
    for (const SavedIdea& saved : savedIdeas()) {
        Json::Value entry(Json::objectValue);
        entry["folder"] = saved.fileName;
        entry["name"] = saved.idea->name();
        folders.append(entry);
    }
    return JsonField::styled(root);
}

int ProjectFile::save(const std::string& documentPath)
{
    const std::string document = fs::absolute(documentPath).string();
    const std::string folder = audioFolder(document, 0, std::string());
    const std::string stage = makeUniqueDirectory(folder + ".saving");
    if (stage.empty()) {
        std::cerr << "Failed to create a folder beside " << folder << std::endl;
        return 1;
    }
    const int written = saveAudio(stage) | saveMidi(stage);
    const std::string documentTemp = written == 0 ? writeBeside(document, documentText()) : std::string();
    if (documentTemp.empty()) {
        std::cerr << "Failed to save " << document << "; the previous save is kept." << std::endl;
        removeAll(stage);
        return 1;
    }
    // Swap in: the old folder steps aside, the new one takes its name, then the document.
    std::error_code ec;
    const bool hadFolder = fs::exists(folder, ec);
    const std::string old = hadFolder ? makeUniqueDirectory(folder + ".old") : std::string();
    const bool asideOk = !hadFolder || (!old.empty() && renamed(folder, old));
    const bool folderOk = asideOk && renamed(stage, folder);
    const bool documentOk = folderOk && renamed(documentTemp, document);
    if (!documentOk) {
        if (folderOk)
            renamed(folder, stage);
        if (hadFolder && asideOk)
            renamed(old, folder);
        removeAll(old);
        removeAll(stage);
        std::remove(documentTemp.c_str());
        std::cerr << "Failed to save " << document << "; the previous save is kept." << std::endl;
        return 1;
    }
    removeAll(old);
    m_pEngine->project()->setModified(false);
    return 0;
}

void ProjectFile::loadIdeas(const std::string& folder, const std::vector<std::pair<std::string, std::string>>& named)
{
    std::vector<std::string> subfolders;
    std::error_code ec;
    fs::directory_iterator it(folder, ec);
    if (ec)
        std::cerr << "Couldn't open directory: " << folder << std::endl;
    for (; !ec && it != fs::directory_iterator(); it.increment(ec))
        if (it->is_directory(ec))
            subfolders.push_back(it->path().filename().string());
    std::sort(subfolders.begin(), subfolders.end());

    // The document's order and names first, then folders it does not know.
    std::vector<std::pair<std::string, std::string>> ideas;
    for (const auto& entry : named) {
        auto found = std::find(subfolders.begin(), subfolders.end(), entry.first);
        if (found == subfolders.end())
            continue;
        ideas.push_back(entry);
        subfolders.erase(found);
    }
    for (const std::string& name : subfolders)
        ideas.emplace_back(name, name);

    IdeaCollection* collection = m_pEngine->ideaCollection();
    for (const auto& [folderName, ideaName] : ideas) {
        collection->loadIdea(folder + "/" + folderName, folderName);
        const std::vector<Idea*> loaded = collection->ideas();
        if (!loaded.empty())
            loaded.back()->setName(ideaName);
    }
}

int ProjectFile::open(const std::string& documentPath, const std::string& documentsFolder)
{
    m_pEngine->clearProject();
    std::ifstream in(documentPath, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    if (!in)
        std::cerr << "Failed to open " << documentPath << std::endl;

    Json::Value root;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    Json::Reader reader(Json::Features::all());
#pragma GCC diagnostic pop
    const bool parsed = reader.parse(text.str(), root, false) && root.isObject();
    const Json::Value project = parsed ? root["project"] : Json::Value();
    const double bpm = project.isObject() ? JsonField::toDouble(project["bpm"], 0.0) : 0.0;
    if (bpm >= ZUB_MIN_BPM && bpm <= ZUB_MAX_BPM) {
        m_pEngine->setTempo(float(bpm));
        std::cout << "Read the tempo and set it as: " << bpm << std::endl;
    } else {
        m_pEngine->setTempo(float(kFallbackBpm));
        std::cout << "Failed to find tempo in project file, defaulting to 120 bpm." << std::endl;
    }
    const int64 guid = project.isObject() ? JsonField::toInt64(project["mac_sandbox_guid"], 0) : 0;

    // Only plain folder names from the document: it must not lead outside.
    std::vector<std::pair<std::string, std::string>> named;
    const Json::Value folders = parsed ? root["idea_folders"] : Json::Value();
    for (Json::ArrayIndex i = 0; folders.isArray() && i < folders.size(); ++i) {
        if (!folders[i].isObject())
            continue;
        const std::string folder = JsonField::toString(folders[i]["folder"], std::string());
        if (IdeaFileNames::isSafe(folder))
            named.emplace_back(folder, JsonField::toString(folders[i]["name"], folder));
    }
    loadIdeas(audioFolder(documentPath, guid, documentsFolder), named);

    if (NativeJsBridge* bridge = m_pEngine->jsBridge())
        bridge->deliverMessage("{ \"idea_collection\" : { \"just_loaded\" : \"true\" } }");
    m_pEngine->project()->setModified(false);
    return parsed ? 0 : 1;
}
