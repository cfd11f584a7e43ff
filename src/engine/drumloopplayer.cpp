#include "engine/drumloopplayer.h"

#include "core/alignedfloats.h"
#include "core/beatgrid.h"
#include "core/log.h"
#include "dsp/loopretimer.h"
#include "engine/drumloopinfo.h"
#include "engine/transport.h"
#include "formats/sample.h"
#include "loops/idea.h"
#include "loops/ideacollection.h"
#include "loops/loop.h"
#include "loops/loopaudio.h"
#include "loops/looppool.h"
#include "loops/looprecorder.h"

#include <algorithm>

namespace {

// Beats the loop recorder takes when a drum loop is re-timed.
constexpr int kRecorderBeats = 16;

} // namespace

DrumLoopPlayer::DrumLoopPlayer(IdeaCollection* ideas, LoopPool* pool, LoopRecorder* recorder, Transport* transport)
    : m_pIdeaCollection(ideas)
    , m_pLoopPool(pool)
    , m_pLoopRecorder(recorder)
    , m_pTransport(transport)
{
}

DrumLoopPlayer::~DrumLoopPlayer() = default;

int DrumLoopPlayer::load(const std::string& folder, const std::string& fileName)
{
    int32 bpm = 0, beats = 0;
    if (fileName.find('/') != std::string::npos || fileName.find('\\') != std::string::npos
        || !DrumLoopInfo::parseFileName(fileName, bpm, beats)) {
        logError() << "Error: Invalid drum loop name: " << fileName;
        return 1;
    }
    m_pSample.reset();
    m_pSample = std::make_shared<const Sample>(folder + "/" + fileName);
    m_fBpm = float(bpm);
    m_fBeats = float(beats);
    m_bArmed = true;
    return 0;
}

bool DrumLoopPlayer::State::operator==(const State& other) const
{
    return sample == other.sample && bpm == other.bpm && beats == other.beats && armed == other.armed
        && loop.lock() == other.loop.lock();
}

DrumLoopPlayer::State DrumLoopPlayer::state() const
{
    return { m_pSample, m_fBpm, m_fBeats, m_bArmed, m_pLoop };
}

void DrumLoopPlayer::restore(const State& state)
{
    m_pSample = state.sample;
    m_fBpm = state.bpm;
    m_fBeats = state.beats;
    m_bArmed = state.armed;
    m_pLoop = state.loop;
}

int64 DrumLoopPlayer::sampleFrames() const
{
    return m_pSample ? m_pSample->numSamples() / ZUB_FRAMESIZE : 0;
}

std::vector<Idea*> DrumLoopPlayer::removeFromIdeas()
{
    std::vector<Idea*> holders;
    const std::shared_ptr<Loop> loop = m_pLoop.lock();
    if (!loop)
        return holders;
    Idea* active = m_pIdeaCollection->activeIdea();
    for (Idea* idea : m_pIdeaCollection->ideas()) {
        const std::vector<std::shared_ptr<Loop>> loops = idea->loops();
        if (std::find(loops.begin(), loops.end(), loop) == loops.end())
            continue;
        // Only the playing idea is heard, so only there does it fade out.
        idea->removeLoop(loop, idea == active);
        holders.push_back(idea);
    }
    m_pLoop.reset();
    return holders;
}

std::shared_ptr<Loop> DrumLoopPlayer::retimedLoop(double bpm)
{
    if (!m_pSample)
        return nullptr;
    const int beats = std::max(1, int(m_fBeats));
    const int64 frames = BeatGrid(bpm).framesForBeats(beats);
    float* samples = allocateAlignedFloats(std::size_t(frames) * ZUB_FRAMESIZE);
    if (!samples) {
        logError() << "No memory for a drum loop of " << frames << " frames";
        return nullptr;
    }
    LoopRetimer().retime(m_pSample->data(), sampleFrames(), samples, frames);
    std::shared_ptr<Loop> loop = m_pLoopPool->createLoop();
    if (!loop) {
        freeAlignedFloats(samples);
        return nullptr;
    }
    loop->setAudio(LoopAudio::adopt(samples, frames));
    loop->setNumBeats(beats);
    return loop;
}

int DrumLoopPlayer::play()
{
    if (!m_pSample)
        return 1;
    const double bpm = m_pTransport->bpm();
    if (!reaches(bpm)) {
        logInfo() << "The drum loop cannot be played at " << bpm << " bpm";
        return 1;
    }
    m_bArmed = false;
    std::shared_ptr<Loop> loop = retimedLoop(bpm);
    // One drum loop at a time: a second play replaces the first.
    removeFromIdeas();
    Idea* idea = m_pIdeaCollection->activeIdeaMadeIfNone();
    if (!idea || !loop)
        return 1;
    idea->addLoop(loop);
    m_pLoop = loop;
    m_pTransport->setPosition(0);
    return 0;
}

void DrumLoopPlayer::stop()
{
    m_bArmed = false;
    removeFromIdeas();
    m_pLoopPool->collectGarbage();
}

void DrumLoopPlayer::clear()
{
    m_pSample.reset();
    stop();
}

bool DrumLoopPlayer::isActive() const
{
    return m_pSample && (m_bArmed || m_pLoop.lock());
}

bool DrumLoopPlayer::reaches(double bpm) const
{
    return m_fBpm > 0.0f && bpm / m_fBpm > MIN_RETIME_RATIO;
}

bool DrumLoopPlayer::acceptsTempo(double bpm) const
{
    return !isActive() || reaches(bpm);
}

void DrumLoopPlayer::retimeTimeline(const std::shared_ptr<Loop>& timelineLoop, int64 destFrames, int64 pos,
                                    double bpm)
{
    const int64 f = timelineLoop->numFrames();
    // A take that is already its beats long at this tempo stays so: the beat
    // grid keeps it in time with the drum loop, where a cut of a frame would not.
    if (f > 0 && destFrames > 0 && !BeatGrid(bpm).fits(timelineLoop->numBeats(), f))
        timelineLoop->setLength(f > destFrames ? destFrames * (f / destFrames) : destFrames / (destFrames / f));
    m_pTransport->setBpm(float(bpm));
    m_pTransport->setPosition(pos);
}

bool DrumLoopPlayer::retime(double bpm, const std::shared_ptr<Loop>& timelineLoop)
{
    m_pLoopPool->collectGarbage();
    if (!isActive())
        return false;
    if (sampleFrames() == 0 || !reaches(bpm)) {
        logInfo() << "The drum loop cannot be re-timed to " << bpm << " bpm";
        return false;
    }
    m_bArmed = false;
    int64 pos = 0;
    if (timelineLoop) {
        pos = timelineLoop->playPosOffset() / ZUB_FRAMESIZE;
    } else {
        m_pTransport->setPosition(0);
        m_pIdeaCollection->syncPlayPos(0);
    }
    std::shared_ptr<Loop> dest = retimedLoop(bpm);
    if (!dest)
        return false;
    const int64 destFrames = dest->numFrames();
    if (timelineLoop)
        retimeTimeline(timelineLoop, destFrames, pos, bpm);
    dest->setMute(true, true);
    dest->setMute(false, false);
    logInfo() << "Fading in the resampled loop...";

    // The new loop goes wherever the old one was, and into the playing idea.
    std::vector<Idea*> ideas = removeFromIdeas();
    Idea* active = m_pIdeaCollection->activeIdeaMadeIfNone();
    if (active && std::find(ideas.begin(), ideas.end(), active) == ideas.end())
        ideas.push_back(active);
    for (Idea* idea : ideas)
        idea->addLoop(dest);
    m_pLoop = dest;

    // The recorder keeps its 16 beats on the same grid; the click follows the
    // transport's tempo, which the drum loop now has exactly.
    m_pLoopRecorder->setTempo(bpm, false);
    m_pLoopRecorder->setLengthSamples(ZUB_FRAMESIZE * BeatGrid(bpm).framesForBeats(kRecorderBeats));
    m_pLoopRecorder->setPlayPosFrames(static_cast<uint32_t>(pos));
    return true;
}
