#include "engine/recoverycopy.h"

#include "core/alignedfloats.h"
#include "core/fileops.h"
#include "core/jsonfield.h"
#include "core/log.h"
#include "engine/project.h"
#include "engine/zubengine.h"
#include "loops/idea.h"
#include "loops/ideacollection.h"
#include "loops/loop.h"
#include "loops/loopaudio.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

const char* const kIndexName = "recovery.json";
// A recovery index is small; anything far larger is not one.
constexpr std::uintmax_t kMaxIndexBytes = 64u << 20;

// The folder's entries are on disk once this returns.
void syncFolder(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

Json::Value notesToJson(const TimedMidiEventList& notes)
{
    Json::Value events(Json::arrayValue);
    for (const auto& [time, message] : notes.events()) {
        Json::Value e(Json::arrayValue);
        e.append(Json::Int64(time));
        e.append(message.status());
        e.append(message.data1());
        e.append(message.data2());
        events.append(e);
    }
    return events;
}

TimedMidiEventList notesFromJson(const Json::Value& events)
{
    TimedMidiEventList notes;
    for (Json::ArrayIndex i = 0; events.isArray() && i < events.size(); ++i) {
        const Json::Value& e = events[i];
        if (!e.isArray() || e.size() != 4)
            continue;
        const auto byte = [&](Json::ArrayIndex k) { return std::uint8_t(JsonField::toInt64(e[k], 0) & 0xff); };
        notes.addEvent(JsonField::toInt64(e[0], 0), MidiMessage(byte(1), byte(2), byte(3)));
    }
    return notes;
}

} // namespace

RecoveryCopy::RecoveryCopy(std::string folder)
    : m_folder(std::move(folder))
    , m_stage(m_folder + ".new")
    , m_old(m_folder + ".old")
{
}

void RecoveryCopy::fail(const std::string& why)
{
    if (m_failure.empty())
        m_failure = why;
}

bool RecoveryCopy::writeFile(const std::string& path, const std::function<bool(std::FILE*)>& fill)
{
    errno = 0;
    std::FILE* file = std::fopen(path.c_str(), "wb");
    bool written = file && fill(file) && std::fflush(file) == 0 && ::fsync(fileno(file)) == 0;
    const int error = errno;
    if (file)
        written = std::fclose(file) == 0 && written;
    if (!written) {
        errno = error != 0 ? error : EIO;
        fail(FileOps::lastError());
        logError() << "Failed to write the recovery file " << path << ": " << FileOps::lastError();
    }
    return written;
}

bool RecoveryCopy::writeBytes(const std::string& path, const void* bytes, std::size_t size)
{
    return writeFile(path, [&](std::FILE* file) { return size == 0 || std::fwrite(bytes, 1, size, file) == size; });
}

Json::Value RecoveryCopy::recorderEntry(const LoopRecorder& recorder)
{
    const LoopRecorder::Content take = recorder.describeContent();
    const int64 frames = recorder.lengthFrames();
    const std::string name = "recorder.f32";
    int64 stored = 0;
    const bool written = writeFile(m_stage + "/" + name, [&](std::FILE* file) {
        // A change of length part way leaves what was read; the rest is silence.
        recorder.readAudio([&](const float* samples, int64 count) {
            if (std::fwrite(samples, sizeof(float), std::size_t(count), file) != std::size_t(count))
                return false;
            stored += count;
            return true;
        });
        return !std::ferror(file);
    });
    if (!written)
        return Json::Value();
    Json::Value entry(Json::objectValue);
    entry["file"] = name;
    entry["frames"] = Json::Int64(frames);
    entry["stored_frames"] = Json::Int64(stored / ZUB_FRAMESIZE);
    entry["num_beats"] = take.numBeats;
    entry["notes"] = notesToJson(take.notes);
    entry["pos_samples"] = Json::UInt(take.posSamples);
    return entry;
}

Json::Value RecoveryCopy::loopEntry(const std::string& stage, const std::string& name, const LoopAudio* audio,
                                    int64 frames, const TimedMidiEventList& notes, int32 numBeats)
{
    Json::Value entry(Json::objectValue);
    const int64 stored = audio ? std::min(frames, audio->frames()) : 0;
    entry["file"] = name;
    entry["frames"] = Json::Int64(frames);
    entry["stored_frames"] = Json::Int64(stored);
    entry["num_beats"] = numBeats;
    entry["notes"] = notesToJson(notes);
    if (!writeBytes(stage + "/" + name, audio ? audio->data() : nullptr,
                    std::size_t(stored * ZUB_FRAMESIZE) * sizeof(float)))
        entry = Json::Value();
    return entry;
}

int RecoveryCopy::write(const SongSnapshot& song, const LoopRecorder* recorder, const Info& info)
{
    m_failure.clear();
    FileOps::removeAll(m_stage);
    std::error_code ec;
    fs::create_directories(m_stage, ec);
    if (ec) {
        fail(ec.message());
        logError() << "Failed to create the recovery folder " << m_stage << ": " << ec.message();
        return 1;
    }
    Json::Value root(Json::objectValue);
    root["song"] = info.song;
    root["document"] = info.document;
    root["written_at"] = Json::Int64(info.writtenAt);
    root["bpm"] = double(song.bpm);
    Json::Value& ideas = root["ideas"] = Json::Value(Json::arrayValue);
    bool written = true;
    for (std::size_t i = 0; i < song.ideas.size() && written; ++i) {
        const SongSnapshot::IdeaEntry& idea = song.ideas[i];
        Json::Value entry(Json::objectValue);
        entry["name"] = idea.name;
        entry["active"] = idea.active;
        Json::Value& loops = entry["loops"] = Json::Value(Json::arrayValue);
        for (std::size_t j = 0; j < idea.loops.size() && written; ++j) {
            const SongSnapshot::LoopEntry& loop = idea.loops[j];
            const std::string name = "idea" + std::to_string(i) + "-loop" + std::to_string(j) + ".f32";
            Json::Value l = loopEntry(m_stage, name, loop.audio.get(), loop.frames,
                                      loop.notes ? *loop.notes : TimedMidiEventList(), loop.numBeats);
            written = l.isObject();
            l["muted"] = loop.muted;
            loops.append(l);
        }
        ideas.append(entry);
    }
    if (written && recorder && recorder->holdsRecording()) {
        root["loop_recorder"] = recorderEntry(*recorder);
        written = root["loop_recorder"].isObject();
    }
    // The index goes in last: a copy without it is no copy.
    const std::string index = JsonField::styled(root);
    written = written && writeBytes(m_stage + "/" + kIndexName, index.data(), index.size());
    syncFolder(m_stage);
    if (!written) {
        FileOps::removeAll(m_stage);
        logError() << "The recovery copy was not written; the previous one is kept.";
        return 1;
    }
    // The previous copy steps aside, the new one takes its name, then the
    // previous one goes: a kill in between leaves one of them whole.
    FileOps::removeAll(m_old);
    if (FileOps::exists(m_folder))
        fs::rename(m_folder, m_old, ec);
    if (!ec)
        fs::rename(m_stage, m_folder, ec);
    if (ec) {
        fail(ec.message());
        logError() << "Failed to swap in the recovery copy: " << ec.message();
        if (!FileOps::exists(m_folder) && FileOps::exists(m_old))
            fs::rename(m_old, m_folder, ec);
        FileOps::removeAll(m_stage);
        return 1;
    }
    syncFolder(fs::path(m_folder).parent_path().string());
    FileOps::removeAll(m_old);
    return 0;
}

std::string RecoveryCopy::wholeCopy() const
{
    // A write cut short between its two renames leaves the previous copy
    // under the old name.
    for (const std::string& folder : { m_folder, m_old })
        if (FileOps::exists(folder + "/" + kIndexName))
            return folder;
    return {};
}

bool RecoveryCopy::find(Info& info) const
{
    const std::string copy = wholeCopy();
    if (copy.empty())
        return false;
    std::ifstream in(copy + "/" + kIndexName, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    Json::Value root;
    if (!JsonField::parse(text.str(), root) || !root.isObject())
        return false;
    info.song = JsonField::toString(root["song"], "Untitled");
    info.document = JsonField::toString(root["document"], "");
    info.writtenAt = JsonField::toInt64(root["written_at"], 0);
    return true;
}

std::shared_ptr<const LoopAudio> RecoveryCopy::readSamples(const std::string& copy, const Json::Value& entry)
{
    const std::string name = JsonField::toString(entry["file"], "");
    const int64 frames = JsonField::toInt64(entry["frames"], 0);
    const int64 stored = JsonField::toInt64(entry["stored_frames"], 0);
    const std::string path = copy + "/" + name;
    std::error_code ec;
    const bool plainName = !name.empty() && name.find('/') == std::string::npos && name[0] != '.';
    if (!plainName || frames <= 0 || stored < 0 || stored > frames
        || frames * ZUB_FRAMESIZE > int64(LoopRecorder::MAX_LENGTH_SAMPLES)
        || fs::file_size(path, ec) != std::uintmax_t(stored * ZUB_FRAMESIZE) * sizeof(float) || ec) {
        fail("a loop file of the copy is missing or damaged");
        logError() << "The recovery file " << path << " is missing or not " << stored << " frames long";
        return nullptr;
    }
    float* samples = allocateAlignedFloats(std::size_t(frames * ZUB_FRAMESIZE));
    if (!samples) {
        fail("there is not enough memory");
        return nullptr;
    }
    std::fill(samples, samples + frames * ZUB_FRAMESIZE, 0.0f);
    std::ifstream in(path, std::ios::binary);
    in.read(reinterpret_cast<char*>(samples), std::streamsize(stored * ZUB_FRAMESIZE * sizeof(float)));
    std::shared_ptr<const LoopAudio> audio = LoopAudio::adopt(samples, frames);
    if (!in) {
        fail("a loop file of the copy cannot be read");
        logError() << "Failed to read the recovery file " << path;
        return nullptr;
    }
    return audio;
}

int RecoveryCopy::read(LoopPool* loopPool, Recovered& recovered)
{
    m_failure.clear();
    const std::string copy = wholeCopy();
    std::error_code ec;
    const std::string index = copy + "/" + kIndexName;
    if (copy.empty() || fs::file_size(index, ec) > kMaxIndexBytes || ec) {
        fail("there is no recovery copy");
        return 1;
    }
    std::ifstream in(index, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    Json::Value root;
    if (!JsonField::parse(text.str(), root) || !root.isObject() || !root["ideas"].isArray()) {
        fail("the recovery copy is damaged");
        return 1;
    }
    find(recovered.info);
    ProjectFile::LoadedSong& song = recovered.song;
    song.documentPath = recovered.info.document;
    song.opened = true;
    const double bpm = JsonField::toDouble(root["bpm"], 120.0);
    song.bpm = float(bpm >= ZUB_MIN_BPM && bpm <= ZUB_MAX_BPM ? bpm : 120.0);
    const Json::Value& ideas = root["ideas"];
    for (Json::ArrayIndex i = 0; i < ideas.size(); ++i) {
        auto idea = std::make_unique<Idea>(loopPool);
        idea->setName(JsonField::toString(ideas[i]["name"], "A New Idea"));
        if (JsonField::toBool(ideas[i]["active"], false))
            recovered.activeIdea = song.ideas.size();
        const Json::Value& loops = ideas[i]["loops"];
        for (Json::ArrayIndex j = 0; loops.isArray() && j < loops.size(); ++j) {
            std::shared_ptr<const LoopAudio> audio = readSamples(copy, loops[j]);
            if (!audio)
                return 1;
            auto loop = std::make_shared<Loop>();
            loop->setAudio(audio);
            loop->setNumBeats(int(JsonField::toInt64(loops[j]["num_beats"], 16)));
            loop->setNotes(notesFromJson(loops[j]["notes"]));
            loop->setMute(JsonField::toBool(loops[j]["muted"], false), true);
            idea->addLoop(loop);
        }
        idea->saveLoopStates();
        song.ideas.push_back(std::move(idea));
    }
    const Json::Value& recorder = root["loop_recorder"];
    if (recorder.isObject()) {
        recovered.recorder.audio = readSamples(copy, recorder);
        if (!recovered.recorder.audio)
            return 1;
        recovered.recorder.notes = notesFromJson(recorder["notes"]);
        recovered.recorder.numBeats = int32(JsonField::toInt64(recorder["num_beats"], 8));
        recovered.recorder.posSamples = uint32_t(JsonField::toInt64(recorder["pos_samples"], 0));
    }
    return 0;
}

void RecoveryCopy::remove() const
{
    FileOps::removeAll(m_stage);
    FileOps::removeAll(m_folder);
    FileOps::removeAll(m_old);
}

void RecoveryCopy::restore(ZubEngine& engine, Recovered& recovered)
{
    const std::size_t active = recovered.activeIdea;
    ProjectFile file(&engine);
    file.adopt(recovered.song);
    const std::vector<Idea*> ideas = engine.ideaCollection()->ideas();
    if (active < ideas.size())
        engine.ideaCollection()->setActiveIdea(ideas[active]->id());
    if (recovered.recorder.audio)
        engine.loopRecorder()->putContent(recovered.recorder);
    // Nothing of it is saved yet.
    engine.project()->setModified(true);
}
