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

} // namespace

Idea::Idea(LoopPool* loopPool)
    : m_id(Loop::drawId())
    , m_pLoopPool(loopPool)
    , m_pFade(std::make_unique<Fade>())
    , m_pMixingBuffer(allocateAlignedFloats(IDEA_MIXING_BUF_SAMPLES))
{
}

Idea::Idea(const Idea& other)
    : Idea(other.m_pLoopPool)
{
    std::lock_guard lock(other.m_mutex);
    m_name = other.m_name;
    m_bMute = other.m_bMute;
    // The source's stored pattern, not the loops' current state: a source
    // that is not active keeps its own pattern in the clone too.
    m_loops = other.m_loops;
    m_loopStates = other.m_loopStates;
    m_loopStates.resize(m_loops.size(), false);
}

Idea::~Idea()
{
    {
        std::lock_guard lock(m_mutex);
        freeAlignedFloats(m_pMixingBuffer);
        m_pMixingBuffer = nullptr;
    }
    logInfo() << "Destroyed idea " << m_id << " (" << m_name << ")";
}

void Idea::setName(const std::string& name)
{
    std::lock_guard lock(m_mutex);
    m_name = name;
}

std::string Idea::name() const
{
    std::lock_guard lock(m_mutex);
    return m_name;
}

void Idea::addLoop(std::shared_ptr<Loop> loop)
{
    if (!loop)
        return;
    std::lock_guard lock(m_mutex);
    m_loops.push_back(std::move(loop));
    saveLoopStatesLocked();
}

int Idea::indexOf(const Loop* loop) const
{
    for (std::size_t i = 0; i < m_loops.size(); ++i)
        if (m_loops[i].get() == loop)
            return int(i);
    return -1;
}

void Idea::removeLoop(const std::shared_ptr<Loop>& loop, bool withFade)
{
    std::lock_guard lock(m_mutex);
    const int i = indexOf(loop.get());
    if (i < 0)
        return;
    m_loops.erase(m_loops.begin() + i);
    if (std::size_t(i) < m_loopStates.size())
        m_loopStates.erase(m_loopStates.begin() + i);
    if (withFade) {
        // Restarts the fade at full gain for every loop still fading.
        m_pFade->fadeOut(kRemoveFadeMs);
        m_fadingLoops.push_back(loop);
    }
}

std::vector<std::shared_ptr<Loop>> Idea::loops() const
{
    std::lock_guard lock(m_mutex);
    return m_loops;
}

std::size_t Idea::numFadingLoops() const
{
    std::lock_guard lock(m_mutex);
    return m_fadingLoops.size();
}

void Idea::saveLoopStates()
{
    std::lock_guard lock(m_mutex);
    saveLoopStatesLocked();
}

void Idea::saveLoopStatesLocked()
{
    m_loopStates.resize(m_loops.size());
    for (std::size_t i = 0; i < m_loops.size(); ++i)
        m_loopStates[i] = m_loops[i]->isMuted();
}

void Idea::activate()
{
    std::lock_guard lock(m_mutex);
    const std::size_t n = std::min(m_loops.size(), m_loopStates.size());
    for (std::size_t i = 0; i < n; ++i)
        m_loops[i]->setMute(m_loopStates[i], false);
    logInfo() << "Activated idea: " << m_id << " (" << m_name << ")";
}

void Idea::syncPlayPos(int64 samples)
{
    std::lock_guard lock(m_mutex);
    for (const auto& loop : m_loops)
        loop->syncPlayPos(samples);
}

int64 Idea::maxLoopLengthFrames(int* numLoops) const
{
    std::lock_guard lock(m_mutex);
    int64 longest = 0;
    for (const auto& loop : m_loops)
        longest = std::max<int64>(longest, static_cast<uint32_t>(loop->numFrames()));
    if (numLoops)
        *numLoops = int(m_loops.size());
    return longest;
}

void Idea::process(float* out, int numFrames)
{
    std::lock_guard lock(m_mutex);
    for (int done = 0; done < numFrames; done += kMaxFrames) {
        const int n = std::min(numFrames - done, kMaxFrames);
        float* piece = out + done * ZUB_FRAMESIZE;
        for (const auto& loop : m_loops)
            loop->process(piece, n);
        if (m_fadingLoops.empty())
            continue;
        std::fill(m_pMixingBuffer, m_pMixingBuffer + n * ZUB_FRAMESIZE, 0.0f);
        for (const auto& loop : m_fadingLoops)
            loop->process(m_pMixingBuffer, n);
        m_pFade->process(m_pMixingBuffer, n);
        // The pool still holds these loops, so clearing never destroys one here.
        if (m_pFade->isSteady())
            m_fadingLoops.clear();
        for (int i = 0; i < n * ZUB_FRAMESIZE; ++i)
            piece[i] += m_pMixingBuffer[i];
    }
}

Json::Value Idea::toJson() const
{
    std::lock_guard lock(m_mutex);
    Json::Value idea(Json::objectValue);
    idea["id"] = m_id;
    idea["name"] = m_name;
    idea["mute"] = m_bMute;
    Json::Value& loops = idea["loops"] = Json::Value(Json::arrayValue);
    const bool statesKnown = m_loopStates.size() == m_loops.size();
    for (std::size_t i = 0; i < m_loops.size(); ++i) {
        Json::Value loop = m_loops[i]->toJson();
        if (statesKnown)
            loop["mute"] = bool(m_loopStates[i]);
        loops.append(loop);
    }
    return idea;
}

void Idea::fromJson(const Json::Value& idea)
{
    if (!idea.isObject())
        return;
    bool removed = false;
    {
        std::lock_guard lock(m_mutex);
        if (idea["name"].isString())
            m_name = idea["name"].asString();
        if (JsonField::isBoolLike(idea["mute"]))
            m_bMute = JsonField::toBool(idea["mute"], m_bMute);
        const Json::Value& loops = idea["loops"];
        if (loops.isArray())
            for (const Json::Value& entry : loops)
                removed |= applyLoopEntry(entry);
    }
    if (removed)
        m_pLoopPool->collectGarbage();
}

// Returns true when the entry removed its loop.
bool Idea::applyLoopEntry(const Json::Value& entry)
{
    if (!entry.isObject())
        return false;
    const long long id = JsonField::toInt64(entry["id"], -1);
    if (id < 0 || id > INT32_MAX)
        return false;
    const std::shared_ptr<Loop> loop = m_pLoopPool->getLoop(int32(id));
    if (!loop)
        return false;
    const int i = indexOf(loop.get());
    if (i < 0) {
        logInfo() << "Loop " << loop->id() << " is not in idea " << m_id << "; ignored";
        return false;
    }
    if (entry.isMember("_destroy")) {
        removeLoop(loop, true);
        return true;
    }
    loop->fromJson(entry);
    // What the user set in this idea is what this idea wants for the loop.
    if (std::size_t(i) < m_loopStates.size())
        m_loopStates[i] = loop->isMuted();
    return false;
}
