#pragma once

#include "core/zubtypes.h"
#include "dsp/adsrsettings.h"
#include "filters/chebyshevilowpass.h"
#include "filters/stereofilter.h"
#include "instruments/samplervoicescratch.h"

#include <memory>
#include <vector>

class ADSR;
class LinearResampler;
class Sample;
class SamplerZone;

// Plays one note of a sample pack: reads the zone's sample from its start,
// shifts it by the distance between the note and the zone's root key and
// shapes it with the zone's envelope. Notes above the root are low-passed
// and upsampled by an integer factor first, then read back at that factor.
// All scratch memory exists before the first render; render allocates nothing.
class SamplerVoice
{
public:
    static constexpr int kNumFilteredSrcBufferSamples = 65536;
    // Upper bound of the upsample buffer for the frame limit of the pitch-up
    // path (see maxPitchedUpSamples): at most 1.5 times the filtered buffer.
    static constexpr int kNumUpsampleBufferSamples = kNumFilteredSrcBufferSamples * 3 / 2 + 64;
    // Pitch shifts are limited to the key range so that the upsample factor stays bounded.
    static constexpr int kMaxSemitones = 127;

    // A voice with scratch buffers of its own.
    SamplerVoice();
    // A voice that renders in shared buffers; they must outlive it.
    explicit SamplerVoice(SamplerVoiceScratch& shared);
    // Scratch buffers of the sizes a voice needs.
    static std::unique_ptr<SamplerVoiceScratch> makeScratch();
    ~SamplerVoice();

    SamplerVoice(const SamplerVoice&) = delete;
    SamplerVoice& operator=(const SamplerVoice&) = delete;

    // Binds the voice to a zone (or to none) and stops it.
    void setZone(SamplerZone* zone);
    void start(int note);
    // Lets the envelope enter its release phase.
    void release();
    void setActive(bool active) { m_bActive = active; }
    bool isActive() const { return m_bActive; }
    int note() const { return m_note; }

    // Adds up to numFrames interleaved stereo frames into mix; returns the
    // number of frames rendered, fewer only where the note ends.
    int render(float* mix, int numFrames);

private:
    // As much of numFrames as the filtered source buffer allows at once.
    int renderPiece(float* mix, int numFrames);
    double pitchRatio() const;
    int renderDirect(float* mix, const float* src, int n, int remaining, double ratio);
    int renderPitchedUp(float* mix, const float* src, int n, int remaining, double ratio);
    void filterSource(const float* src, int numSamples);
    int fillUpsampleBuffer(int numUpsampled, double rate, int remaining);
    int renderOutput(float* mix, int n, double rate, const float* src, int available);
    static int countSamples(LinearResampler& counter, const LinearResampler& worker,
        int samples, double rate);
    static int maxPitchedUpSamples(double ratio);

    Sample* m_pSample = nullptr;
    SamplerZone* m_pZone = nullptr;
    bool m_bActive = false;
    int32 m_iPlayPosOffset = 0;
    int32 m_note = 0;
    int32 m_rootKey = 60;
    std::unique_ptr<LinearResampler> m_pUpsampler;
    std::unique_ptr<LinearResampler> m_pOutputResampler;
    std::unique_ptr<LinearResampler> m_pOutputCounter;
    std::unique_ptr<LinearResampler> m_pUpsampleCounter;
    ADSRSettings m_idleSettings; // bound to the envelope while the voice has no zone
    std::unique_ptr<ADSR> m_pEnvelope;
    int64 m_framesPlayed = 0;
    StereoFilter<ChebyshevILowPass> m_filter;
    std::unique_ptr<SamplerVoiceScratch> m_pOwnScratch;
    SamplerVoiceScratch* m_pScratch;
};
