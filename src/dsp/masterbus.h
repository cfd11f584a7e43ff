#pragma once

#include "core/playbackengine.h"
#include "dsp/ghettocomp.h"
#include "filters/chebyshevibandpass.h"
#include "filters/rbjhighpass.h"
#include "filters/rbjlowpass.h"
#include "filters/stereofilter.h"

#include <vector>

// Last step of every audio cycle: splits the mix into a low, a mid and a high
// band, compresses each on its own and sums them with fixed gains and a soft
// quadratic shaping of the high band. Audio thread (or an offline render) only.
class MasterBus final : public PlaybackEngine
{
public:
    static constexpr int DEINTERLACED_BUF_FRAMES = 16384;

    enum Band { kLow = 0, kMid = 1, kHigh = 2 };

    MasterBus();

    // After this much silence every band's filter has rung out far below
    // -120 dB and every compressor is back at unity: from then on silence
    // passes untouched, and nothing is computed until sound comes again.
    static constexpr int REST_AFTER_FRAMES = 44100;

    // Any frame count: long calls are processed in consecutive pieces below
    // DEINTERLACED_BUF_FRAMES, the filter and compressor states carried over.
    void process(float* buffer, int numFrames) override;

    float compFactor(Band band) const;

private:
    // True while silence needs no work (see REST_AFTER_FRAMES).
    bool restsThrough(const float* buffer, int numFrames);
    void processPiece(float* buffer, int numFrames);
    void splitBands(const float* buffer, int numFrames);
    void mixBands(float* buffer, int numFrames) const;

    std::vector<float> m_left, m_right, m_lowL, m_lowR, m_midL, m_midR, m_highL, m_highR;
    std::vector<float> m_lowBand, m_midBand, m_highBand; // interleaved
    StereoFilter<ChebyshevIBandPass> m_midFilter;
    StereoFilter<RbjLowPass> m_lowFilter;
    StereoFilter<RbjHighPass> m_highFilter;
    GhettoComp m_lowComp { 100.0f };
    GhettoComp m_midComp { 11.6f };
    GhettoComp m_highComp { 11.6f };
    int m_iSilentFrames = 0; // of silence in a row, up to REST_AFTER_FRAMES
};
