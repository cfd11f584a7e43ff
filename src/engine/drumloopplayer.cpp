#include "engine/drumloopplayer.h"

#include "core/log.h"
#include "engine/drumloopinfo.h"
#include "engine/metronome.h"
#include "engine/transport.h"
#include "formats/sample.h"
#include "loops/idea.h"
#include "loops/ideacollection.h"
#include "loops/loop.h"
#include "loops/looppool.h"
#include "loops/looprecorder.h"

#include <algorithm>

namespace {

// Frames the resampler produces per call.
constexpr int kChunkFrames = 128;

} // namespace

DrumLoopPlayer::DrumLoopPlayer(IdeaCollection* ideas, LoopPool* pool, LoopRecorder* recorder, Metronome* metronome,
                               Transport* transport)
    : m_pIdeaCollection(ideas)
    , m_pLoopPool(pool)
    , m_pLoopRecorder(recorder)
    , m_pMetronome(metronome)
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
    m_pSample = std::make_unique<Sample>(folder + "/" + fileName);
    m_fBpm = float(bpm);
    m_fBeats = float(beats);
    return 0;
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

void DrumLoopPlayer::play()
{
    if (!m_pSample)
        return;
    // One drum loop at a time: a second play replaces the first.
    removeFromIdeas();
    Idea* idea = m_pIdeaCollection->activeIdeaMadeIfNone();
    std::shared_ptr<Loop> loop = m_pLoopPool->createLoop();
    if (!idea || !loop)
        return;
    loop->copyFrom(m_pSample->data(), uint32_t(sampleFrames()), 0);
    loop->setNumBeats(int(m_fBeats));
    idea->addLoop(loop);
    m_pLoop = loop;
    m_pTransport->setPosition(0);
}

void DrumLoopPlayer::stop()
{
    removeFromIdeas();
    m_pLoopPool->collectGarbage();
}

void DrumLoopPlayer::clear()
{
    m_pSample.reset();
    stop();
}

bool DrumLoopPlayer::acceptsTempo(double bpm) const
{
    return !m_pSample || (m_fBpm > 0.0f && bpm / m_fBpm > MIN_RETIME_RATIO);
}

int64 DrumLoopPlayer::resample(double ratio, std::vector<float>& out)
{
    std::shared_ptr<Loop> source = m_pLoopPool->createLoop();
    if (!source)
        return 0;
    const int64 frames = sampleFrames();
    source->copyFrom(m_pSample->data(), uint32_t(frames), 0);
    source->setRate(ratio);
    // One pass gives frames / ratio frames, rounded up to whole chunks.
    const int64 maxSamples = ZUB_FRAMESIZE * (int64(double(frames) / ratio) + 2 * kChunkFrames);
    out.assign(std::size_t(maxSamples), 0.0f);
    source->setPlayPosOffset(0);
    int64 generated = 0;
    do {
        if (generated + ZUB_FRAMESIZE * kChunkFrames > maxSamples) {
            logError() << "numResampledSamplesGenerated <= kMaxResampledSamples";
            break;
        }
        source->processResampled(out.data() + generated, kChunkFrames);
        generated += ZUB_FRAMESIZE * kChunkFrames;
    } while (source->playPosOffset() != 0);
    source->endResampling();
    return generated;
}

void DrumLoopPlayer::retimeTimeline(const std::shared_ptr<Loop>& timelineLoop, int64 destFrames, int64 pos,
                                    double bpm)
{
    const int64 f = timelineLoop->numFrames();
    if (f > 0 && destFrames > 0)
        timelineLoop->setLength(f > destFrames ? destFrames * (f / destFrames) : destFrames / (destFrames / f));
    m_pTransport->setBpm(float(bpm));
    m_pTransport->setPosition(pos);
}

bool DrumLoopPlayer::retime(double bpm, const std::shared_ptr<Loop>& timelineLoop)
{
    m_pLoopPool->collectGarbage();
    if (!m_pSample)
        return false;
    if (sampleFrames() == 0 || !acceptsTempo(bpm)) {
        logInfo() << "The drum loop cannot be re-timed to " << bpm << " bpm";
        return false;
    }
    int64 pos = 0;
    if (timelineLoop) {
        pos = timelineLoop->playPosOffset() / ZUB_FRAMESIZE;
    } else {
        m_pTransport->setPosition(0);
        m_pIdeaCollection->syncPlayPos(0);
    }
    std::vector<float> resampled;
    const int64 generated = resample(bpm / m_fBpm, resampled);
    const int64 destFrames = generated / ZUB_FRAMESIZE;
    std::shared_ptr<Loop> dest = m_pLoopPool->createLoop();
    if (!dest || destFrames == 0)
        return false;
    dest->copyFrom(resampled.data(), uint32_t(destFrames), 0);
    dest->setNumBeats(int(m_fBeats));
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

    m_pLoopRecorder->setTempo(bpm, false);
    m_pLoopRecorder->setLengthSamples(generated);
    m_pLoopRecorder->setNumBeats(16);
    m_pLoopRecorder->setPlayPosFrames(static_cast<uint32_t>(pos));
    m_pMetronome->setFramesPerBeat(int(destFrames / m_fBeats));
    return true;
}
