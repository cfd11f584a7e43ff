#include "instruments/samplervoice.h"

#include "dsp/adsr.h"
#include "dsp/linearresampler.h"
#include "formats/sample.h"
#include "instruments/samplerzone.h"

#include <algorithm>
#include <cmath>

namespace {
constexpr int kFilterOrder = 4;
constexpr double kFilterCutoffHz = 20000.0;
constexpr double kFilterRippleDb = 1.0;

// The upsampled source is read back a hair below the factor. At exactly 2 the
// resampler's phase settles on 1.0 and every 53rd step or so then skips a
// third frame, which plays the note about 16 cents sharp; just below 2 it
// settles under 1 and every step takes exactly two frames.
constexpr double kReadBackRateScale = 1.0 - 1e-9;
} // namespace

std::unique_ptr<SamplerVoiceScratch> SamplerVoice::makeScratch()
{
    return std::make_unique<SamplerVoiceScratch>(kNumFilteredSrcBufferSamples, kNumUpsampleBufferSamples);
}

SamplerVoice::SamplerVoice()
    : SamplerVoice(*makeScratch().release())
{
    m_pOwnScratch.reset(m_pScratch);
}

SamplerVoice::SamplerVoice(SamplerVoiceScratch& shared)
    : m_pUpsampler(std::make_unique<LinearResampler>())
    , m_pOutputResampler(std::make_unique<LinearResampler>())
    , m_pOutputCounter(std::make_unique<LinearResampler>())
    , m_pUpsampleCounter(std::make_unique<LinearResampler>())
    , m_pEnvelope(std::make_unique<ADSR>(&m_idleSettings))
    , m_pScratch(&shared)
{
    m_filter.setup(kFilterOrder, ZUB_SAMPLE_RATE, kFilterCutoffHz, kFilterRippleDb);
}

SamplerVoice::~SamplerVoice() = default;

void SamplerVoice::setZone(SamplerZone* zone)
{
    m_bActive = false;
    m_iPlayPosOffset = 0;
    m_pZone = zone;
    m_pEnvelope = std::make_unique<ADSR>(zone ? zone->m_pEnvelopeParams.get() : &m_idleSettings);
    m_pSample = zone ? zone->m_pSample.get() : nullptr;
    if (zone)
        m_rootKey = zone->m_rootKey;
}

void SamplerVoice::start(int note)
{
    m_framesPlayed = 0;
    m_pEnvelope->noteOn(1.0);
    m_note = note;
    m_iPlayPosOffset = 0;
    // A zone without audio (refused, missing or undecodable file) plays silence
    // and must not hold the voice.
    m_bActive = m_pSample && m_pSample->numSamples() > 0;
}

void SamplerVoice::release()
{
    if (m_pEnvelope->isActive())
        m_pEnvelope->noteOff();
}

int SamplerVoice::render(float* mix, int numFrames)
{
    int done = 0;
    // A pitched-up piece is bounded by the filtered source buffer; long
    // buffers take as many pieces as they need.
    while (done < numFrames && m_bActive && m_pSample) {
        const int rendered = renderPiece(mix + 2 * done, numFrames - done);
        if (rendered == 0)
            break;
        done += rendered;
    }
    return done;
}

int SamplerVoice::renderPiece(float* mix, int numFrames)
{
    const int numSamples = m_pSample->numSamples();
    const int remaining = numSamples - m_iPlayPosOffset;
    const int n = std::min(remaining, 2 * numFrames);
    const float* src = m_pSample->data() + m_iPlayPosOffset;
    const double ratio = pitchRatio();
    const int rendered = ratio <= 1.0 ? renderDirect(mix, src, n, remaining, ratio)
                                      : renderPitchedUp(mix, src, n, remaining, ratio);
    if (m_iPlayPosOffset == numSamples || !m_pEnvelope->isActive())
        m_bActive = false;
    return rendered;
}

double SamplerVoice::pitchRatio() const
{
    // A pack may give any 32-bit root key: the distance is taken in 64 bits.
    const int64 semitones = std::clamp<int64>(int64(m_note) - m_rootKey, -kMaxSemitones, kMaxSemitones);
    return std::pow(2.0, double(semitones) / 12.0);
}

int SamplerVoice::renderDirect(float* mix, const float* src, int n, int remaining, double ratio)
{
    m_iPlayPosOffset += renderOutput(mix, n, ratio, src, remaining);
    return n / 2;
}

int SamplerVoice::renderPitchedUp(float* mix, const float* src, int n, int remaining, double ratio)
{
    const int factor = static_cast<int>(std::ceil(ratio));
    const double r = static_cast<float>(ratio / factor);
    const double readBackRate = factor * kReadBackRateScale;
    n = std::min(n, maxPitchedUpSamples(ratio));
    const int numUpsampled = std::min(
        countSamples(*m_pOutputCounter, *m_pOutputResampler, n, readBackRate), kNumUpsampleBufferSamples);
    const int needed = countSamples(*m_pUpsampleCounter, *m_pUpsampler, numUpsampled, r);
    filterSource(src, std::min({ remaining, needed, kNumFilteredSrcBufferSamples }));
    const int consumed = fillUpsampleBuffer(numUpsampled, r, remaining);
    m_iPlayPosOffset += consumed;
    if (m_iPlayPosOffset >= m_pSample->numSamples()) {
        // The source is used up: the voice ends instead of starting the sample again.
        m_iPlayPosOffset = 0;
        m_bActive = false;
    }
    renderOutput(mix, n, readBackRate, m_pScratch->upsampled.data(), numUpsampled);
    return n / 2;
}

void SamplerVoice::filterSource(const float* src, int numSamples)
{
    const int numFrames = numSamples / 2;
    float* left = m_pScratch->left.data();
    float* right = m_pScratch->right.data();
    float* filtered = m_pScratch->filtered.data();
    for (int i = 0; i < numFrames; ++i) {
        left[i] = src[2 * i];
        right[i] = src[2 * i + 1];
    }
    m_filter.processChannel(0, left, numFrames);
    m_filter.processChannel(1, right, numFrames);
    for (int i = 0; i < numFrames; ++i) {
        filtered[2 * i] = left[i];
        filtered[2 * i + 1] = right[i];
    }
}

int SamplerVoice::fillUpsampleBuffer(int numUpsampled, double rate, int remaining)
{
    float* up = m_pScratch->upsampled.data();
    int consumed = 0;
    for (int j = 0; 2 * j < numUpsampled; ++j) {
        up[2 * j] = 0.0f;
        up[2 * j + 1] = 0.0f;
        if (remaining - consumed <= 0) {
            std::fill(up + 2 * j, up + numUpsampled, 0.0f);
            m_bActive = false;
            break;
        }
        // Never let a step read past the filtered buffer.
        const int available = std::min(remaining, kNumFilteredSrcBufferSamples) - consumed;
        consumed += m_pUpsampler->next(&up[2 * j], &up[2 * j + 1], 0, rate,
            m_pScratch->filtered.data() + consumed, available);
    }
    return consumed;
}

int SamplerVoice::renderOutput(float* mix, int n, double rate, const float* src, int available)
{
    int totalRead = 0;
    for (int i = 0; 2 * i < n; ++i) {
        float left = 0.0f;
        float right = 0.0f;
        // The readable count is what is really left, so a step never reads past the source.
        totalRead += m_pOutputResampler->next(&left, &right, 0, rate, src + totalRead,
            available - totalRead);
        const float e = m_pEnvelope->advance(static_cast<double>(m_framesPlayed) / ZUB_SAMPLE_RATE / 10.0);
        mix[2 * i] += e * left;
        mix[2 * i + 1] += e * right;
        ++m_framesPlayed;
    }
    return totalRead;
}

int SamplerVoice::countSamples(LinearResampler& counter, const LinearResampler& worker,
    int samples, double rate)
{
    if (samples < 1)
        return 0;
    // Counting from the state of the resampler that will do the work makes
    // the count exact, also after notes that ended early or played below the root.
    counter = worker;
    int sum = 0;
    for (int k = 0; k < (samples + 1) / 2; ++k)
        sum += counter.countNext(0, rate);
    return sum;
}

int SamplerVoice::maxPitchedUpSamples(double ratio)
{
    // Filtered samples needed are at most n x (ratio + 1) plus a few frames.
    const int n = static_cast<int>((kNumFilteredSrcBufferSamples - 8) / (ratio + 1.0));
    return std::max(2, n & ~1);
}
