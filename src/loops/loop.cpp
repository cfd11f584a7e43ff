#include "loops/loop.h"

#include "core/alignedfloats.h"
#include "core/jsonfield.h"
#include "core/log.h"
#include "dsp/fade.h"
#include "dsp/superresampler.h"
#include "formats/wavereader.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace {

constexpr int kWaveformBlocks = 512;
constexpr int kWaveformSampleSpacing = 512; // frames between the frames a block averages
// Loops are written to disk at half gain.
constexpr float kWavLoadGain = 2.0f;

} // namespace

Loop::Loop()
    : m_id(drawId())
    , m_pFade(std::make_unique<Fade>())
    , m_pResampler(std::make_unique<SuperResampler>())
{
}

Loop::~Loop()
{
    std::lock_guard lock(m_mutex);
    freeBuffer();
}

int32 Loop::drawId()
{
    return std::rand() % 32768;
}

void Loop::freeBuffer()
{
    freeAlignedFloats(m_pLoopBuffer);
    m_pLoopBuffer = nullptr;
    m_iBufferLengthFrames = 0;
    m_iLoopLengthFrames = 0;
    m_iPlayPosOffset = 0;
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
    if (!m_pLoopBuffer || !m_bPlaying || numFrames <= 0)
        return;
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
        m_pFade->mix(out + i, m_pLoopBuffer + src, run);
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
    if (!m_pLoopBuffer || loopSamples == 0)
        return;
    const int moved = m_pResampler->process(m_pLoopBuffer, m_iLoopLengthFrames, m_iPlayPosOffset, out, numFrames,
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

int Loop::setLength(int64 numFrames)
{
    if (numFrames < 0) {
        logInfo() << "Loop length must not be negative: " << numFrames;
        return 1;
    }
    std::lock_guard lock(m_mutex);
    if (numFrames > m_iBufferLengthFrames) {
        // Grow only: audio past a shorter length comes back when it grows again.
        float* grown = allocateAlignedFloats(std::size_t(numFrames) * ZUB_FRAMESIZE);
        if (!grown) {
            logInfo() << "No memory for a loop of " << numFrames << " frames";
            return 1;
        }
        std::fill(grown, grown + numFrames * ZUB_FRAMESIZE, 0.0f);
        if (m_pLoopBuffer)
            std::memcpy(grown, m_pLoopBuffer, sizeof(float) * ZUB_FRAMESIZE * m_iBufferLengthFrames);
        freeAlignedFloats(m_pLoopBuffer);
        m_pLoopBuffer = grown;
        m_iBufferLengthFrames = numFrames;
    }
    m_iLoopLengthFrames = numFrames;
    m_iPlayPosOffset = numFrames > 0 ? m_iPlayPosOffset % (ZUB_FRAMESIZE * numFrames) : 0;
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
    std::lock_guard lock(m_mutex);
    if (m_pLoopBuffer)
        std::fill(m_pLoopBuffer, m_pLoopBuffer + ZUB_FRAMESIZE * m_iLoopLengthFrames, 0.0f);
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
    if (immediate) {
        m_pFade->setValue(mute ? 0.0f : 1.0f);
    } else if (!mute && m_pFade->value() == 1.0f && !m_pFade->isSteady()) {
        // Unmuted before the fade-out took a step: the ramp would otherwise
        // run on and leave an unmuted loop silent. Hold full gain instead.
        m_pFade->fadeOut(0.0f);
        m_pFade->setValue(1.0f);
    } else {
        m_pFade->startFade(mute);
    }
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
    std::lock_guard lock(m_mutex);
    m_notes = notes;
}

TimedMidiEventList Loop::notes() const
{
    std::lock_guard lock(m_mutex);
    return m_notes;
}

void Loop::copyFrom(const float* src, uint32_t numFrames, uint32_t transportPosSamples)
{
    std::lock_guard lock(m_mutex);
    m_iPlayPosOffset = 0;
    if (numFrames > m_iBufferLengthFrames && setLength(numFrames) != 0)
        return;
    if (numFrames > 0)
        std::memcpy(m_pLoopBuffer, src, sizeof(float) * ZUB_FRAMESIZE * numFrames);
    finishCopy(numFrames, transportPosSamples);
}

void Loop::finishCopy(uint32_t numFrames, uint32_t transportPosSamples)
{
    std::lock_guard lock(m_mutex);
    m_iPlayPosOffset = 0;
    m_iLoopLengthFrames = numFrames;
    // Continue exactly where the source was playing.
    syncPlayPos(transportPosSamples);
    m_bEmpty = false;
    computeWaveform();
}

int Loop::copyInPieces(const float* src, uint32_t numFrames, uint32_t pieceFrames)
{
    int64 oldFrames;
    {
        std::lock_guard lock(m_mutex);
        oldFrames = m_iLoopLengthFrames;
        m_iLoopLengthFrames = 0; // silent until the copy is whole
        m_iPlayPosOffset = 0;
        m_bEmpty = true;
        m_waveform.clear();
    }
    if (reserveFrames(numFrames) != 0)
        return 1;
    const int64 end = std::max<int64>(numFrames, oldFrames);
    const int64 step = std::max<uint32_t>(pieceFrames, 1);
    for (int64 start = 0; start < end; start += step) {
        std::lock_guard lock(m_mutex);
        const int64 stop = std::min(start + step, end);
        if (stop > m_iBufferLengthFrames)
            return 1;
        const int64 copied = std::clamp<int64>(int64(numFrames) - start, 0, stop - start);
        float* dst = m_pLoopBuffer + ZUB_FRAMESIZE * start;
        if (copied > 0) // an empty copy may come without a source
            std::memcpy(dst, src + ZUB_FRAMESIZE * start, sizeof(float) * ZUB_FRAMESIZE * copied);
        std::fill(dst + ZUB_FRAMESIZE * copied, m_pLoopBuffer + ZUB_FRAMESIZE * stop, 0.0f);
    }
    std::lock_guard lock(m_mutex);
    if (numFrames > m_iBufferLengthFrames)
        return 1;
    finishCopy(numFrames, 0);
    return 0;
}

// Room for numFrames, the loop's audio kept. The new buffer is made and
// zeroed before the lock is taken, so that the audio thread never waits on it.
int Loop::reserveFrames(int64 numFrames)
{
    {
        std::lock_guard lock(m_mutex);
        if (numFrames <= m_iBufferLengthFrames)
            return 0;
    }
    float* grown = allocateAlignedFloats(std::size_t(numFrames) * ZUB_FRAMESIZE);
    if (!grown) {
        logInfo() << "No memory for a loop of " << numFrames << " frames";
        return 1;
    }
    std::fill(grown, grown + numFrames * ZUB_FRAMESIZE, 0.0f);
    {
        std::lock_guard lock(m_mutex);
        if (numFrames > m_iBufferLengthFrames) {
            if (m_pLoopBuffer)
                std::memcpy(grown, m_pLoopBuffer, sizeof(float) * ZUB_FRAMESIZE * m_iLoopLengthFrames);
            std::swap(grown, m_pLoopBuffer);
            m_iBufferLengthFrames = numFrames;
        }
    }
    freeAlignedFloats(grown);
    return 0;
}

int Loop::loadWav(const std::string& path)
{
    std::lock_guard lock(m_mutex);
    freeBuffer();
    float* samples = nullptr;
    int numSamples = 0;
    const int rc = readWav(path, samples, numSamples);
    if (rc == 0 && samples) {
        m_pLoopBuffer = samples;
        m_iBufferLengthFrames = m_iLoopLengthFrames = numSamples / ZUB_FRAMESIZE;
        for (int i = 0; i < numSamples; ++i)
            samples[i] *= kWavLoadGain;
        m_bEmpty = m_iLoopLengthFrames == 0;
        logInfo() << "Loaded loop " << path << " with length " << numSamples;
    } else {
        logInfo() << "Failed to load " << path;
    }
    computeWaveform();
    return m_pLoopBuffer ? 0 : 1;
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
    std::lock_guard lock(m_mutex);
    return m_waveform;
}

// One two-digit number per block of the loop, for a small drawing of it.
void Loop::computeWaveform()
{
    std::lock_guard lock(m_mutex);
    m_waveform.clear();
    const int64 n = m_iLoopLengthFrames;
    if (n == 0 || !m_pLoopBuffer)
        return;
    // Loops shorter than one frame per block get one block per frame.
    const int64 step = std::max<int64>(1, n / kWaveformBlocks);
    for (int64 s = 0; s < n; s += step) {
        const int64 end = std::min(s + step, n);
        double sum = 0.0;
        int count = 0;
        for (int64 f = s; f < end; f += kWaveformSampleSpacing, ++count) {
            const float l = m_pLoopBuffer[2 * f], r = m_pLoopBuffer[2 * f + 1];
            sum += std::sqrt(l * l + r * r);
        }
        // Louder than full scale (overdubs, loaded files) is held at 99 so
        // every number keeps its two digits and the string stays readable.
        const double value = std::min(sum / count * 64.0, 99.0);
        if (value < 10.0)
            m_waveform += '0';
        m_waveform += std::to_string(static_cast<long long>(value));
    }
}

Json::Value Loop::toJson() const
{
    std::lock_guard lock(m_mutex);
    Json::Value loop(Json::objectValue);
    loop["id"] = m_id;
    loop["name"] = "my loop";
    loop["mute"] = m_bMute;
    loop["length_seconds"] = static_cast<uint32_t>(m_iLoopLengthFrames) / double(ZUB_SAMPLE_RATE);
    loop["num_beats"] = m_numBeats;
    loop["notes"] = m_notes.toJson();
    loop["waveform"] = m_notes.events().empty() ? m_waveform : std::string();
    return loop;
}

void Loop::fromJson(const Json::Value& loop)
{
    if (!loop.isObject() || !loop.isMember("mute") || !JsonField::isBoolLike(loop["mute"]))
        return;
    setMute(JsonField::toBool(loop["mute"], false), false);
}
