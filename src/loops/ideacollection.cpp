#include "loops/ideacollection.h"

#include "core/alignedfloats.h"
#include "core/beatgrid.h"
#include "core/jsonfield.h"
#include "core/log.h"
#include "dsp/fade.h"
#include "formats/looptrack.h"
#include "formats/midireader.h"
#include "loops/idea.h"
#include "loops/loop.h"
#include "loops/looppool.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <sstream>

namespace {

constexpr float kStopFadeMs = 150.0f;

bool isDigit(char c)
{
    return std::isdigit(static_cast<unsigned char>(c)) != 0;
}

// Digit runs compare as numbers, so "loop10" sorts after "loop9".
bool naturalLess(const std::string& a, const std::string& b)
{
    std::size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (isDigit(a[i]) && isDigit(b[j])) {
            std::size_t ei = i, ej = j;
            while (ei < a.size() && isDigit(a[ei]))
                ++ei;
            while (ej < b.size() && isDigit(b[ej]))
                ++ej;
            std::string na = a.substr(i, ei - i), nb = b.substr(j, ej - j);
            na.erase(0, std::min(na.find_first_not_of('0'), na.size()));
            nb.erase(0, std::min(nb.find_first_not_of('0'), nb.size()));
            if (na.size() != nb.size())
                return na.size() < nb.size();
            if (na != nb)
                return na < nb;
            i = ei;
            j = ej;
        } else {
            if (a[i] != b[j])
                return a[i] < b[j];
            ++i;
            ++j;
        }
    }
    return a.size() - i < b.size() - j;
}

std::vector<std::string> wavFilesInIndexOrder(const std::string& dir, bool& opened)
{
    std::vector<std::string> files;
    std::error_code ec;
    std::filesystem::directory_iterator it(dir, ec);
    opened = !ec;
    for (; !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
        const std::string path = it->path().string();
        if (path.size() >= 4 && path.compare(path.size() - 4, 4, ".wav") == 0)
            files.push_back(path);
    }
    std::sort(files.begin(), files.end(), naturalLess);
    return files;
}

// A loop's beats as the song's document gives them, else from its length at
// the tempo; 0 when neither is known.
int beatsOf(int64 frames, std::size_t index, double bpm, const std::vector<int>& loopBeats)
{
    if (index < loopBeats.size() && loopBeats[index] > 0)
        return loopBeats[index];
    if (!(bpm > 0.0))
        return 0;
    return int(std::max<int64>(1, std::llround(double(frames) / BeatGrid(bpm).framesPerBeat())));
}

} // namespace

IdeaCollection::IdeaCollection(LoopPool* loopPool, std::function<void()> onModified)
    : m_onModified(std::move(onModified))
    , m_pLoopPool(loopPool)
    , m_pIdeas(std::make_shared<const IdeaList>())
    , m_pStopFade(std::make_unique<Fade>())
    , m_pMixingBuffer(allocateAlignedFloats(IDEACOLLECTION_MIXING_BUF_SAMPLES))
{
}

IdeaCollection::~IdeaCollection()
{
    freeAlignedFloats(m_pMixingBuffer);
}

void IdeaCollection::markModified()
{
    if (m_onModified)
        m_onModified();
}

Idea* IdeaCollection::findIdea(int32 id) const
{
    const int i = indexOf(id);
    return i < 0 ? nullptr : (*m_pIdeas)[i].get();
}

int IdeaCollection::indexOf(int32 id) const
{
    const IdeaList& ideas = *m_pIdeas;
    for (std::size_t i = 0; i < ideas.size(); ++i)
        if (ideas[i]->id() == id)
            return int(i);
    return -1;
}

// Ids are drawn at random: redraw the rare one that is taken or means "none".
void IdeaCollection::giveUniqueId(Idea* idea) const
{
    while (idea->id() == 0 || findIdea(idea->id()))
        idea->setId(1 + std::rand() % 32767);
}

void IdeaCollection::publish(std::shared_ptr<const IdeaList> ideas, int32 activeIdeaId)
{
    Idea* active = nullptr;
    for (const auto& idea : *ideas)
        if (idea->id() == activeIdeaId)
            active = idea.get();
    {
        std::lock_guard lock(m_mutex);
        m_pIdeas.swap(ideas);
        m_activeIdeaId = activeIdeaId;
        m_pActive = active;
    }
    // The old list, and any idea only it held, goes here, outside the lock.
}

Idea* IdeaCollection::activeIdea() const
{
    std::lock_guard edit(m_editMutex);
    return findIdea(m_activeIdeaId);
}

int32 IdeaCollection::activeIdeaId() const
{
    std::lock_guard edit(m_editMutex);
    return m_activeIdeaId;
}

std::vector<Idea*> IdeaCollection::ideas() const
{
    std::lock_guard edit(m_editMutex);
    std::vector<Idea*> ideas;
    for (const auto& idea : *m_pIdeas)
        ideas.push_back(idea.get());
    return ideas;
}

std::shared_ptr<const IdeaCollection::IdeaList> IdeaCollection::snapshot() const
{
    std::lock_guard edit(m_editMutex);
    return m_pIdeas;
}

int IdeaCollection::setActiveIdea(int32 id)
{
    std::lock_guard edit(m_editMutex);
    if (id != 0 && !findIdea(id)) {
        logInfo() << "No idea with id " << id << " to activate";
        return 1;
    }
    setActiveIdeaLocked(id);
    return 0;
}

void IdeaCollection::setActiveIdeaLocked(int32 id)
{
    if (id != 0) {
        m_bStopped = false;
        releaseFadingIdea();
    }
    if (id == m_activeIdeaId)
        return;
    if (Idea* leaving = findIdea(m_activeIdeaId))
        leaving->saveLoopStates();
    publish(m_pIdeas, id);
    if (Idea* entering = findIdea(id))
        entering->activate();
}

void IdeaCollection::addIdea(Idea* idea)
{
    if (!idea)
        return;
    std::shared_ptr<Idea> added(idea);
    std::lock_guard edit(m_editMutex);
    giveUniqueId(idea);
    auto next = std::make_shared<IdeaList>(*m_pIdeas);
    next->push_back(std::move(added));
    publish(std::move(next), m_activeIdeaId == 0 ? idea->id() : m_activeIdeaId);
    markModified();
}

Idea* IdeaCollection::activeIdeaMadeIfNone()
{
    std::lock_guard edit(m_editMutex);
    if (m_pIdeas->empty())
        addIdea(new Idea(m_pLoopPool));
    return findIdea(m_activeIdeaId);
}

IdeaCollection::State IdeaCollection::capture()
{
    std::lock_guard edit(m_editMutex);
    if (Idea* active = findIdea(m_activeIdeaId))
        active->saveLoopStates();
    // A stopped song keeps the idea that played as its active one.
    State state { m_pIdeas, {}, m_bStopped ? m_lastPlayedIdeaId : m_activeIdeaId };
    for (const auto& idea : *m_pIdeas)
        state.contents.push_back(idea->content());
    return state;
}

void IdeaCollection::restore(const State& state)
{
    if (!state.ideas || state.contents.size() != state.ideas->size())
        return;
    std::lock_guard edit(m_editMutex);
    for (std::size_t i = 0; i < state.contents.size(); ++i)
        (*state.ideas)[i]->setContent(state.contents[i]);
    // A stopped song stays stopped, to play that idea when it starts again.
    if (m_bStopped)
        m_lastPlayedIdeaId = state.activeIdeaId;
    publish(state.ideas, m_bStopped ? 0 : state.activeIdeaId);
    if (Idea* active = findIdea(m_activeIdeaId))
        active->activate();
    markModified();
}

std::string IdeaCollection::cloneName(const std::string& name)
{
    std::istringstream in(name);
    std::vector<std::string> words;
    for (std::string w; in >> w;)
        words.push_back(w);
    if (words.size() < 2 || !isDigit(words.back()[0]))
        return name + " 2";
    errno = 0;
    const long long number = std::strtoll(words.back().c_str(), nullptr, 10);
    if (errno == ERANGE || number == LLONG_MAX)
        return name + " 2";
    std::string cloned;
    for (std::size_t i = 0; i + 1 < words.size(); ++i)
        cloned += words[i] + " ";
    return cloned + std::to_string(number + 1);
}

int IdeaCollection::cloneIdea(int32 id)
{
    std::lock_guard edit(m_editMutex);
    const int i = indexOf(id);
    if (i < 0) {
        logInfo() << "No idea with id " << id << " to clone";
        return 1;
    }
    Idea* source = (*m_pIdeas)[i].get();
    // Only the playing idea's pattern lives in the loops themselves.
    if (id == m_activeIdeaId)
        source->saveLoopStates();
    auto clone = std::make_shared<Idea>(*source);
    clone->setName(cloneName(source->name()));
    giveUniqueId(clone.get());
    const int32 cloneId = clone->id();
    auto next = std::make_shared<IdeaList>(*m_pIdeas);
    next->insert(next->begin() + i + 1, std::move(clone));
    publish(std::move(next), m_activeIdeaId);
    setActiveIdeaLocked(cloneId);
    markModified();
    return 0;
}

void IdeaCollection::releaseFadingIdea()
{
    std::shared_ptr<Idea> released;
    std::lock_guard lock(m_mutex);
    released.swap(m_pFadingIdea);
    // The idea, if this was its last holder, goes after the lock.
}

int IdeaCollection::stop()
{
    std::lock_guard edit(m_editMutex);
    const int i = indexOf(m_activeIdeaId);
    if (i < 0)
        return 1;
    std::shared_ptr<Idea> playing = (*m_pIdeas)[i];
    setActiveIdeaLocked(0);
    m_lastPlayedIdeaId = playing->id();
    {
        std::lock_guard lock(m_mutex);
        playing.swap(m_pFadingIdea);
        m_pStopFade->fadeOut(kStopFadeMs);
    }
    m_bStopped = true;
    return 0;
}

int IdeaCollection::play()
{
    std::lock_guard edit(m_editMutex);
    if (!m_bStopped || m_pIdeas->empty())
        return 1;
    const int32 id = findIdea(m_lastPlayedIdeaId) ? m_lastPlayedIdeaId : m_pIdeas->front()->id();
    // Asked before the idea is active, so that no cycle plays it early.
    m_bStartRequested = true;
    setActiveIdeaLocked(id);
    return 0;
}

void IdeaCollection::clearAll()
{
    std::lock_guard edit(m_editMutex);
    setActiveIdeaLocked(0);
    m_bStopped = false;
    releaseFadingIdea();
    publish(std::make_shared<const IdeaList>(), 0);
}

void IdeaCollection::deleteIdea(int32 id)
{
    const int i = indexOf(id);
    const IdeaList& ideas = *m_pIdeas;
    // The neighbour becomes active: the next one for the first idea, else the one before.
    const int neighbour = i == 0 ? 1 : i - 1;
    if (neighbour < int(ideas.size()))
        setActiveIdeaLocked(ideas[neighbour]->id());
    auto next = std::make_shared<IdeaList>(*m_pIdeas);
    next->erase(next->begin() + i);
    if (next->empty()) {
        setActiveIdeaLocked(0);
        m_bStopped = false;
    }
    // The idea goes when the old list is let go, unless the history keeps it.
    publish(std::move(next), m_activeIdeaId);
    markModified();
}

void IdeaCollection::syncPlayPos(int transportFrame)
{
    std::lock_guard lock(m_mutex);
    // Every idea, so loops shared with ideas that are not playing stay aligned.
    const int64 samples = int64(ZUB_FRAMESIZE) * static_cast<uint32_t>(transportFrame);
    for (const auto& idea : *m_pIdeas)
        idea->syncPlayPos(samples);
}

void IdeaCollection::alignTo(int64 frame, const BeatGrid& grid)
{
    std::lock_guard lock(m_mutex);
    // Every idea, so loops shared with ideas that are not playing stay aligned.
    for (const auto& idea : *m_pIdeas)
        idea->alignTo(frame, grid);
}

void IdeaCollection::process(float* out, int numFrames)
{
    std::lock_guard lock(m_mutex);
    if (m_pActive) {
        m_pActive->process(out, numFrames);
        return;
    }
    // A stopped song: the idea that played fades out, then nothing sounds.
    if (!m_pFadingIdea || m_pStopFade->isSteady())
        return;
    const int count = numFrames * ZUB_FRAMESIZE;
    std::fill(m_pMixingBuffer, m_pMixingBuffer + count, 0.0f);
    m_pFadingIdea->process(m_pMixingBuffer, numFrames);
    m_pStopFade->process(m_pMixingBuffer, numFrames);
    for (int i = 0; i < count; ++i)
        out[i] += m_pMixingBuffer[i];
}

std::unique_ptr<Idea> IdeaCollection::readIdea(const std::string& dir, const std::string& name, LoopPool* loopPool,
                                               double bpm, const std::vector<int>& loopBeats)
{
    logInfo() << "Loading idea: " << name;
    logInfo() << "from: " << dir;
    auto idea = std::make_unique<Idea>(loopPool);

    std::vector<TimedMidiEventList> tracks;
    MidiReader reader;
    if (reader.open(dir + "/../" + name + ".mid") == 0)
        reader.read(tracks); // a malformed file still gives the tracks before the fault

    bool opened = false;
    const std::vector<std::string> files = wavFilesInIndexOrder(dir, opened);
    if (!opened)
        logError() << "Couldn't open directory: " << dir;
    else
        idea->setName(name);
    // Track i and beats i belong to file i.
    std::vector<std::pair<std::size_t, std::shared_ptr<Loop>>> loops;
    int64 longest = 0;
    for (std::size_t i = 0; i < files.size(); ++i) {
        auto loop = std::make_shared<Loop>();
        // An unreadable file still gives a loop, empty and silent, so that the
        // loops after it keep their numbers and their tracks.
        if (loop->loadWav(files[i]) != 0)
            logError() << "Kept an empty loop in place of the unreadable loop file " << files[i];
        longest = std::max(longest, loop->numFrames());
        loops.emplace_back(i, loop);
    }
    const double tickUs = 60000000.0 / (double(reader.tempo()) * reader.ticksPerQuarter());
    for (const auto& [i, loop] : loops) {
        const int64 frames = loop->numFrames();
        if (const int beats = beatsOf(frames, i, bpm, loopBeats))
            loop->setNumBeats(beats);
        if (i < tracks.size())
            loop->setNotes(LoopTrack::firstPass(tracks[i], LoopTrack::repetitions(longest, frames),
                                                framesToMicroseconds(frames), tickUs));
        idea->addLoop(loop);
    }
    return idea;
}

void IdeaCollection::adoptIdea(std::unique_ptr<Idea> idea)
{
    for (const auto& loop : idea->loops())
        if (m_pLoopPool->adopt(loop) != 0)
            idea->removeLoop(loop, false); // every loop id is taken
    addIdea(idea.release());
}

void IdeaCollection::loadIdea(const std::string& dir, const std::string& name, double bpm,
                              const std::vector<int>& loopBeats)
{
    adoptIdea(readIdea(dir, name, m_pLoopPool, bpm, loopBeats));
}

// Built from the list as it stands, without the lock the audio thread takes.
void IdeaCollection::toJson(Json::Value& root) const
{
    std::shared_ptr<const IdeaList> list;
    int32 activeId;
    {
        std::lock_guard edit(m_editMutex);
        list = m_pIdeas;
        activeId = m_activeIdeaId;
    }
    logInfo() << "number of ideas: " << list->size();
    Json::Value& state = root["idea_collection"];
    Json::Value& ideas = state["ideas"] = Json::Value(Json::arrayValue);
    for (const auto& idea : *list) {
        idea->numFadingLoops(); // lets go of loops whose fade has ended
        Json::Value entry = idea->toJson();
        entry["active"] = idea->id() == activeId;
        ideas.append(entry);
    }
    state["active_idea_id"] = activeId;
    state["stopped"] = m_bStopped.load();
    state["test"] = "foobar";
}

bool IdeaCollection::handleJson(const Json::Value& root)
{
    const Json::Value& msg = root["idea_collection"];
    if (!msg.isObject())
        return false;
    std::lock_guard edit(m_editMutex);
    const Json::Value& ideas = msg["ideas"];
    if (ideas.isArray() && ideas.size() == 1 && ideas[0].isObject()) {
        const Json::Value& element = ideas[0];
        const long long id = JsonField::toInt64(element["id"], 0);
        Idea* idea = id > 0 && id <= INT32_MAX ? findIdea(int32(id)) : nullptr;
        if (!idea) {
            logInfo() << "No idea with id " << element["id"].toStyledString();
        } else if (element.isMember("_destroy")) {
            deleteIdea(idea->id());
            return true;
        } else {
            idea->fromJson(element);
            markModified();
        }
    }
    if (msg.isMember("active_idea_id"))
        setActiveIdea(int32(std::clamp<long long>(JsonField::toInt64(msg["active_idea_id"], -1), -1, INT32_MAX)));
    if (msg.isMember("clear")) {
        clearAll();
        markModified();
    }
    return false;
}
