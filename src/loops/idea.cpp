#include "loops/idea.h"

#include "core/alignedfloats.h"
#include "core/jsonfield.h"
#include "core/log.h"
#include "dsp/fade.h"
#include "loops/loop.h"
#include "loops/looppool.h"

#include <algorithm>
#include <cstdint>

namespace {

constexpr float kRemoveFadeMs = 300.0f;
constexpr int kMaxFrames = IDEA_MIXING_BUF_SAMPLES / ZUB_FRAMESIZE;

int indexOf(const Idea::LoopList& loops, const Loop* loop)
{
    for (std::size_t i = 0; i < loops.size(); ++i)
        if (loops[i].get() == loop)
            return int(i);
    return -1;
}

} // namespace

Idea::Idea(LoopPool* loopPool)
    : m_id(Loop::drawId())
    , m_pLoopPool(loopPool)
    , m_pContent(std::make_shared<const Content>())
    , m_pFade(std::make_unique<Fade>())
    , m_pMixingBuffer(allocateAlignedFloats(IDEA_MIXING_BUF_SAMPLES))
{
}

Idea::Idea(const Idea& other)
    : Idea(other.m_pLoopPool)
{
    // The source's stored pattern, not the loops' current state: a source
    // that is not active keeps its own pattern in the clone too. A content
    // never changes, so the clone shares it.
    const std::shared_ptr<const Content> source = other.content();
    if (source->loopStates.size() == source->loops.size()) {
        m_pContent = source;
    } else {
        auto sized = std::make_shared<Content>(*source);
        sized->loopStates.resize(sized->loops.size(), false);
        m_pContent = std::move(sized);
    }
}

Idea::~Idea()
{
    freeAlignedFloats(m_pMixingBuffer);
    logInfo() << "Destroyed idea " << m_id << " (" << m_pContent->name << ")";
}

std::shared_ptr<const Idea::Content> Idea::content() const
{
    std::lock_guard edit(m_editMutex);
    return m_pContent;
}

void Idea::publish(std::shared_ptr<const Content> next)
{
    std::lock_guard edit(m_editMutex);
    {
        std::lock_guard lock(m_mutex);
        m_pContent.swap(next);
    }
    // The old content (and any loop only it held) goes here, outside the lock.
}

void Idea::setContent(std::shared_ptr<const Content> content)
{
    if (content)
        publish(std::move(content));
}

void Idea::setName(const std::string& name)
{
    std::lock_guard edit(m_editMutex);
    auto next = std::make_shared<Content>(*m_pContent);
    next->name = name;
    publish(std::move(next));
}

std::string Idea::name() const
{
    return content()->name;
}

void Idea::addLoop(std::shared_ptr<Loop> loop)
{
    if (!loop)
        return;
    std::lock_guard edit(m_editMutex);
    auto next = std::make_shared<Content>(*m_pContent);
    next->loops.push_back(std::move(loop));
    next->loopStates.resize(next->loops.size());
    for (std::size_t i = 0; i < next->loops.size(); ++i)
        next->loopStates[i] = next->loops[i]->isMuted();
    publish(std::move(next));
}

// The removed loops leave the content and join the fading ones in the same
// swap, so they are heard neither twice nor not at all.
void Idea::publishRemoval(std::shared_ptr<const Content> next, const LoopList& fadingOut)
{
    std::lock_guard edit(m_editMutex);
    if (fadingOut.empty()) {
        publish(std::move(next));
        return;
    }
    // Both lists are made before the lock: which one applies depends on
    // whether the running fade ended meanwhile.
    std::shared_ptr<const LoopList> current;
    {
        std::lock_guard lock(m_mutex);
        current = m_pFading;
    }
    auto joined = std::make_shared<LoopList>(current ? *current : LoopList());
    joined->insert(joined->end(), fadingOut.begin(), fadingOut.end());
    std::shared_ptr<const LoopList> alone = std::make_shared<const LoopList>(fadingOut);
    std::shared_ptr<const LoopList> fading = std::move(joined);
    {
        std::lock_guard lock(m_mutex);
        if (m_bFadeDone)
            fading.swap(alone);
        m_pFading.swap(fading);
        m_pContent.swap(next);
        m_bFadeDone = false;
        // Restarts the fade at full gain for every loop still fading.
        m_pFade->fadeOut(kRemoveFadeMs);
    }
    // What was replaced goes here, outside the lock.
}

void Idea::removeLoop(const std::shared_ptr<Loop>& loop, bool withFade)
{
    std::lock_guard edit(m_editMutex);
    const int i = indexOf(m_pContent->loops, loop.get());
    if (i < 0)
        return;
    auto next = std::make_shared<Content>(*m_pContent);
    next->loops.erase(next->loops.begin() + i);
    if (std::size_t(i) < next->loopStates.size())
        next->loopStates.erase(next->loopStates.begin() + i);
    publishRemoval(std::move(next), withFade ? LoopList(1, loop) : LoopList());
}

Idea::LoopList Idea::loops() const
{
    return content()->loops;
}

std::size_t Idea::numFadingLoops()
{
    std::shared_ptr<const LoopList> finished;
    std::lock_guard lock(m_mutex);
    if (m_bFadeDone) {
        finished.swap(m_pFading);
        return 0;
    }
    return m_pFading ? m_pFading->size() : 0;
}

void Idea::saveLoopStates()
{
    std::lock_guard edit(m_editMutex);
    const Content& current = *m_pContent;
    std::vector<bool> states(current.loops.size());
    for (std::size_t i = 0; i < states.size(); ++i)
        states[i] = current.loops[i]->isMuted();
    if (states == current.loopStates)
        return;
    auto next = std::make_shared<Content>(current);
    next->loopStates = std::move(states);
    publish(std::move(next));
}

void Idea::activate(bool immediate)
{
    const std::shared_ptr<const Content> c = content();
    const std::size_t n = std::min(c->loops.size(), c->loopStates.size());
    for (std::size_t i = 0; i < n; ++i)
        c->loops[i]->setMute(c->loopStates[i], immediate);
    logInfo() << "Activated idea: " << m_id << " (" << c->name << ")";
}

void Idea::syncPlayPos(int64 samples)
{
    std::lock_guard lock(m_mutex);
    for (const auto& loop : m_pContent->loops)
        loop->syncPlayPos(samples);
}

void Idea::alignTo(int64 frame, const BeatGrid& grid)
{
    std::lock_guard lock(m_mutex);
    for (const auto& loop : m_pContent->loops)
        loop->alignTo(frame, grid);
}

int64 Idea::maxLoopLengthFrames(int* numLoops) const
{
    const std::shared_ptr<const Content> c = content();
    int64 longest = 0;
    for (const auto& loop : c->loops)
        longest = std::max<int64>(longest, static_cast<uint32_t>(loop->numFrames()));
    if (numLoops)
        *numLoops = int(c->loops.size());
    return longest;
}

void Idea::process(float* out, int numFrames)
{
    std::lock_guard lock(m_mutex);
    const LoopList& loops = m_pContent->loops;
    for (int done = 0; done < numFrames; done += kMaxFrames) {
        const int n = std::min(numFrames - done, kMaxFrames);
        float* piece = out + done * ZUB_FRAMESIZE;
        for (const auto& loop : loops)
            loop->process(piece, n);
        if (m_bFadeDone || !m_pFading)
            continue;
        std::fill(m_pMixingBuffer, m_pMixingBuffer + n * ZUB_FRAMESIZE, 0.0f);
        for (const auto& loop : *m_pFading)
            loop->process(m_pMixingBuffer, n);
        m_pFade->process(m_pMixingBuffer, n);
        // The list itself is let go by the message thread, never here.
        if (m_pFade->isSteady())
            m_bFadeDone = true;
        for (int i = 0; i < n * ZUB_FRAMESIZE; ++i)
            piece[i] += m_pMixingBuffer[i];
    }
}

Json::Value Idea::toJson() const
{
    const std::shared_ptr<const Content> c = content();
    Json::Value idea(Json::objectValue);
    idea["id"] = m_id;
    idea["name"] = c->name;
    idea["mute"] = c->mute;
    Json::Value& loops = idea["loops"] = Json::Value(Json::arrayValue);
    const bool statesKnown = c->loopStates.size() == c->loops.size();
    for (std::size_t i = 0; i < c->loops.size(); ++i) {
        Json::Value loop = c->loops[i]->toJson();
        if (statesKnown)
            loop["mute"] = bool(c->loopStates[i]);
        loops.append(loop);
    }
    return idea;
}

void Idea::fromJson(const Json::Value& idea)
{
    if (!idea.isObject())
        return;
    LoopList removed;
    {
        std::lock_guard edit(m_editMutex);
        auto next = std::make_shared<Content>(*m_pContent);
        if (idea["name"].isString())
            next->name = idea["name"].asString();
        if (JsonField::isBoolLike(idea["mute"]))
            next->mute = JsonField::toBool(idea["mute"], next->mute);
        const Json::Value& loops = idea["loops"];
        if (loops.isArray())
            for (const Json::Value& entry : loops)
                applyLoopEntry(*next, entry, removed);
        publishRemoval(std::move(next), removed);
    }
    if (!removed.empty())
        m_pLoopPool->collectGarbage();
}

// A loop the entry removes joins `removed`.
void Idea::applyLoopEntry(Content& next, const Json::Value& entry, LoopList& removed)
{
    if (!entry.isObject())
        return;
    const long long id = JsonField::toInt64(entry["id"], -1);
    if (id < 0 || id > INT32_MAX)
        return;
    const std::shared_ptr<Loop> loop = m_pLoopPool->getLoop(int32(id));
    if (!loop)
        return;
    const int i = indexOf(next.loops, loop.get());
    if (i < 0) {
        logInfo() << "Loop " << loop->id() << " is not in idea " << m_id << "; ignored";
        return;
    }
    if (entry.isMember("_destroy")) {
        next.loops.erase(next.loops.begin() + i);
        if (std::size_t(i) < next.loopStates.size())
            next.loopStates.erase(next.loopStates.begin() + i);
        removed.push_back(loop);
        return;
    }
    loop->fromJson(entry);
    // What the user set in this idea is what this idea wants for the loop.
    if (std::size_t(i) < next.loopStates.size())
        next.loopStates[i] = loop->isMuted();
}
