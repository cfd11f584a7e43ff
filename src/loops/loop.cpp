#include "loops/loop.h"

#include "core/alignedfloats.h"
#include "core/jsonfield.h"
#include "core/log.h"
#include "dsp/fade.h"
#include "dsp/superresampler.h"
#include "formats/wavereader.h"
#include "loops/loopaudio.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace {

// Loops are written to disk at half gain.
constexpr float kWavLoadGain = 2.0f;

} // namespace

Loop::Loop()
    : m_id(drawId())
    , m_pFade(std::make_unique<Fade>())
    , m_pNotes(std::make_shared<const TimedMidiEventList>())
    , m_pResampler(std::make_unique<SuperResampler>())
{
}

Loop::~Loop() = default;

int32 Loop::drawId()
{
    return std::rand() % 32768;
}

void Loop::advanceSilently(int64 n, int64 loopSamples)
{
    m_iPlayPosOffset += n;
    if (m_playMode == 0) {
        m_iPlayPosOffset %= loopSamples;
    } else if (m_iPlayPosOffset >= loopSamples) {
        m_iPlayPosOffset = 0;
        m_bPlaying = false;
    }
}

void Loop::process(float* out, int numFrames)
{
    std::lock_guard lock(m_mutex);
    if (!m_pAudio || !m_bPlaying || numFrames <= 0)
        return;
    const float* samples = m_pAudio->data();
    const int64 loopSamples = int64(ZUB_FRAMESIZE) * m_iLoopLengthFrames;
    if (loopSamples == 0) {
        m_iPlayPosOffset = 0; // a zero-length loop is silent
        return;
    }
    int64 n = int64(ZUB_FRAMESIZE) * numFrames;
    if (m_bMute && m_pFade->isSteady()) {
        advanceSilently(n, loopSamples);
        return;
    }
    const bool endsHere = m_playMode == 1 && m_iPlayPosOffset + n >= loopSamples;
    if (endsHere)
        n = loopSamples - m_iPlayPosOffset;
    int64 src = m_iPlayPosOffset % loopSamples;
    for (int64 i = 0; i < n;) {
        // A steady gain mixes whole runs up to the loop's end; a ramp steps per sample.
        const int64 run = m_pFade->isSteady() ? std::min(n - i, loopSamples - src) : 1;
        m_pFade->mix(out + i, samples + src, run);
        i += run;
        src += run;
        if (src == loopSamples)
            src = 0;
    }
    if (endsHere) {
        m_iPlayPosOffset = 0;
        m_bPlaying = false;
    } else {
        m_iPlayPosOffset = src;
    }
}

void Loop::processResampled(float* out, int numFrames)
{
    std::lock_guard lock(m_mutex);
    m_bResampling = true;
    const int64 loopSamples = int64(ZUB_FRAMESIZE) * m_iLoopLengthFrames;
    if (!m_pAudio || loopSamples == 0)
        return;
    const int moved = m_pResampler->process(m_pAudio->data(), m_iLoopLengthFrames, m_iPlayPosOffset, out, numFrames,
                                            0, m_dRate);
    m_iPlayPosOffset = std::max<int64>(0, m_iPlayPosOffset + int64(ZUB_FRAMESIZE) * moved);
    if (m_playMode == 0)
        m_iPlayPosOffset %= loopSamples;
}

void Loop::endResampling()
{
    std::lock_guard lock(m_mutex);
    m_bResampling = false;
}

std::shared_ptr<const LoopAudio> Loop::swapAudio(std::shared_ptr<const LoopAudio> audio, int64 lengthFrames)
{
    m_pAudio.swap(audio);
    m_iLoopLengthFrames = lengthFrames;
    m_iPlayPosOffset = lengthFrames > 0 ? m_iPlayPosOffset % (ZUB_FRAMESIZE * lengthFrames) : 0;
    return audio;
}

int Loop::setLength(int64 numFrames)
{
    if (numFrames < 0) {
        logInfo() << "Loop length must not be negative: " << numFrames;
        return 1;
    }
    std::lock_guard edit(m_editMutex);
    std::shared_ptr<const LoopAudio> audio = this->audio();
    const int64 have = audio ? audio->frames() : 0;
    if (numFrames > have) {
        // Made before the lock is taken: the audio thread never waits on it.
        audio = LoopAudio::copyOf(audio ? audio->data() : nullptr, have, numFrames);
        if (!audio)
            return 1;
    }
    std::lock_guard lock(m_mutex);
    audio = swapAudio(std::move(audio), numFrames);
    return 0;
}

int64 Loop::numFrames() const
{
    std::lock_guard lock(m_mutex);
    return m_iLoopLengthFrames;
}

double Loop::lengthSeconds() const
{
    return double(numFrames()) / ZUB_SAMPLE_RATE;
}

void Loop::clear()
{
    std::lock_guard edit(m_editMutex);
    std::shared_ptr<const LoopAudio> silence = LoopAudio::copyOf(nullptr, 0, numFrames());
    std::lock_guard lock(m_mutex);
    if (silence)
        silence = swapAudio(std::move(silence), m_iLoopLengthFrames);
    m_bEmpty = true;
}

bool Loop::isEmpty() const
{
    std::lock_guard lock(m_mutex);
    return m_bEmpty;
}

void Loop::setNumBeats(int numBeats)
{
    std::lock_guard lock(m_mutex);
    m_numBeats = numBeats;
}

int Loop::numBeats() const
{
    std::lock_guard lock(m_mutex);
    return m_numBeats;
}

void Loop::setPlayPosOffset(int64 playPosOffset)
{
    if (playPosOffset < 0) {
        logInfo() << "Loop play position must not be negative: " << playPosOffset;
        return;
    }
    std::lock_guard lock(m_mutex);
    if (!m_bResampling)
        m_iPlayPosOffset = playPosOffset;
}

int64 Loop::playPosOffset() const
{
    std::lock_guard lock(m_mutex);
    return m_iPlayPosOffset;
}

void Loop::syncPlayPos(int64 transportPosSamples)
{
    std::lock_guard lock(m_mutex);
    if (m_bResampling)
        return;
    const int64 loopSamples = int64(ZUB_FRAMESIZE) * m_iLoopLengthFrames;
    if (loopSamples == 0 || transportPosSamples < 0) {
        m_iPlayPosOffset = 0;
        return;
    }
    // A loop of N frames plays frame (transport frame x rate) mod N, always
    // starting on a left sample.
    const int64 q = static_cast<int64>(std::floor(double(transportPosSamples) * m_dRate));
    int64 pos = q % loopSamples;
    if (pos < 0)
        pos += loopSamples;
    m_iPlayPosOffset = pos - pos % 2;
}

void Loop::alignTo(int64 frame, const BeatGrid& grid)
{
    std::lock_guard lock(m_mutex);
    if (m_dRate != 1.0 || !grid.fits(m_numBeats, m_iLoopLengthFrames)) {
        syncPlayPos(ZUB_FRAMESIZE * std::max<int64>(frame, 0));
        return;
    }
    if (!m_bResampling)
        m_iPlayPosOffset = ZUB_FRAMESIZE * grid.loopPhase(frame, m_numBeats, m_iLoopLengthFrames);
}

void Loop::setRate(double rate)
{
    std::lock_guard lock(m_mutex);
    m_dRate = rate;
}

void Loop::setMute(bool mute, bool immediate)
{
    std::lock_guard lock(m_mutex);
    if (mute == m_bMute)
        return;
    m_bMute = mute;
    // From wherever a fade in progress has got to, so that the last request
    // always wins within one fade.
    if (immediate)
        m_pFade->setValue(mute ? 0.0f : 1.0f);
    else
        m_pFade->startFade(mute);
}

bool Loop::isMuted() const
{
    std::lock_guard lock(m_mutex);
    return m_bMute;
}

void Loop::setPlaying(bool playing)
{
    std::lock_guard lock(m_mutex);
    m_bPlaying = playing;
}

bool Loop::isPlaying() const
{
    std::lock_guard lock(m_mutex);
    return m_bPlaying;
}

void Loop::setPlayMode(int playMode)
{
    if (playMode != 0 && playMode != 1) {
        logInfo() << "Unknown loop play mode refused: " << playMode;
        return;
    }
    std::lock_guard lock(m_mutex);
    m_playMode = playMode;
}

void Loop::setNotes(const TimedMidiEventList& notes)
{
    std::shared_ptr<const TimedMidiEventList> copy = std::make_shared<const TimedMidiEventList>(notes);
    std::lock_guard lock(m_mutex);
    m_pNotes.swap(copy);
}

TimedMidiEventList Loop::notes() const
{
    std::shared_ptr<const TimedMidiEventList> notes;
    {
        std::lock_guard lock(m_mutex);
        notes = m_pNotes;
    }
    return *notes;
}

void Loop::copyFrom(const float* src, uint32_t numFrames, uint32_t transportPosSamples)
{
    std::lock_guard edit(m_editMutex);
    setAudio(LoopAudio::copyOf(src, numFrames), transportPosSamples);
}

int Loop::setAudio(std::shared_ptr<const LoopAudio> audio, uint32_t transportPosSamples)
{
    if (!audio)
        return 1;
    const int64 frames = audio->frames();
    std::lock_guard lock(m_mutex);
    audio = swapAudio(std::move(audio), frames);
    m_iPlayPosOffset = 0;
    // Continue exactly where the source was playing.
    syncPlayPos(transportPosSamples);
    m_bEmpty = false;
    return 0;
}

std::shared_ptr<const LoopAudio> Loop::audio() const
{
    std::lock_guard lock(m_mutex);
    return m_pAudio;
}

const float* Loop::data() const
{
    std::lock_guard lock(m_mutex);
    return m_pAudio ? m_pAudio->data() : nullptr;
}

Loop::Content Loop::content() const
{
    std::lock_guard lock(m_mutex);
    return { m_pAudio, m_iLoopLengthFrames, m_pNotes, m_id, m_numBeats, m_bMute };
}

int Loop::loadWav(const std::string& path)
{
    float* samples = nullptr;
    int numSamples = 0;
    const int rc = readWav(path, samples, numSamples);
    std::shared_ptr<const LoopAudio> audio;
    if (rc == 0 && samples) {
        for (int i = 0; i < numSamples; ++i)
            samples[i] *= kWavLoadGain;
        audio = LoopAudio::adopt(samples, numSamples / ZUB_FRAMESIZE);
        logInfo() << "Loaded loop " << path << " with length " << numSamples;
    } else {
        logInfo() << "Failed to load " << path;
    }
    std::lock_guard edit(m_editMutex);
    std::lock_guard lock(m_mutex);
    m_iPlayPosOffset = 0;
    m_bEmpty = !audio || audio->frames() == 0;
    const int64 frames = audio ? audio->frames() : 0;
    const bool loaded = audio != nullptr;
    audio = swapAudio(std::move(audio), frames);
    return loaded ? 0 : 1;
}

int32 Loop::id() const
{
    std::lock_guard lock(m_mutex);
    return m_id;
}

void Loop::setId(int32 id)
{
    std::lock_guard lock(m_mutex);
    m_id = id;
}

std::string Loop::waveform() const
{
    const std::shared_ptr<const LoopAudio> audio = this->audio();
    return audio ? audio->waveform() : std::string();
}

// The loop's fields are taken in one short hold of the lock; the text is
// built from them afterwards.
Json::Value Loop::toJson() const
{
    const Content c = content();
    Json::Value loop(Json::objectValue);
    loop["id"] = c.id;
    loop["name"] = "my loop";
    loop["mute"] = c.muted;
    loop["length_seconds"] = static_cast<uint32_t>(c.frames) / double(ZUB_SAMPLE_RATE);
    loop["num_beats"] = c.numBeats;
    loop["notes"] = c.notes->toJson();
    loop["waveform"] = c.notes->events().empty() && c.audio ? c.audio->waveform() : std::string();
    return loop;
}

void Loop::fromJson(const Json::Value& loop)
{
    if (!loop.isObject() || !loop.isMember("mute") || !JsonField::isBoolLike(loop["mute"]))
        return;
    setMute(JsonField::toBool(loop["mute"], false), false);
}
