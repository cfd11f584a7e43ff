#pragma once

#include "core/zubtypes.h"

#include <vector>

// Stretches or squeezes a loop to an exact number of frames. Output frame j
// reads the source at j x S / D (S source frames, D output frames), counted in
// whole numbers so that the phase never drifts and the last output frame
// leads exactly into the first; a windowed-sinc interpolator reads across the
// loop's seam (after its last frame comes its first), low-passed below the
// new Nyquist frequency when the loop is sped up. Equal lengths copy the
// source unchanged. Not for the audio thread: it allocates its table.
class LoopRetimer
{
public:
    // Zero crossings of the interpolator on each side at full bandwidth.
    static constexpr int HALF_WIDTH = 8;
    // Fractional positions the interpolator is tabled for.
    static constexpr int PHASES = 512;

    // src: 2 x srcFrames interleaved stereo floats; dst: room for 2 x dstFrames.
    void retime(const float* src, int64 srcFrames, float* dst, int64 dstFrames);

private:
    void makeTable(double cutoff);

    int m_halfTaps = 0;
    std::vector<float> m_table; // (PHASES + 1) rows of 2 x m_halfTaps weights
};
