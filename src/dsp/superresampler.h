#pragma once

#include "core/zubtypes.h"
#include "dsp/linearresampler.h"

#include <vector>

// Plays a loop's audio at any rate. Above rate 1 it first resamples into a
// buffer that holds an integer factor more frames than needed and reads that
// buffer the factor's number of frames at a time, so that no interpolation
// from the loop itself steps more than one frame.
class SuperResampler
{
public:
    SuperResampler();

    // Adds up to numFrames frames of the loop (loopLengthFrames frames at
    // pLoopBuffer), played from playPosOffset (in samples) at the given rate,
    // into out, stopping at the loop's end. Returns the signed number of frames
    // by which the play position must move: negative when it wraps to 0.
    // Does not allocate once the buffer suits the block size and rate (see reserve).
    int process(const float* pLoopBuffer, int64 loopLengthFrames, int64 playPosOffset, float* out,
                int numFrames, int semitones, double rate);

    // Grows the upsampling buffer for blocks of numFrames at up to maxRate.
    // Call it off the audio thread before using larger blocks or rates.
    void reserve(int numFrames, double maxRate);

private:
    int processDirect(const float* src, int64 avail, float* out, int n, double step);
    int processUpsampled(const float* src, int64 avail, int64 loopSamples, int64 p, float* out, int n,
                         double step);
    void fillUpsampleBuffer(const float* src, int64 avail, int64 bufferSamples, double step, int64& consumed);

    LinearResampler m_fillResampler;
    LinearResampler m_outputResampler;
    LinearResampler m_countingResampler;
    std::vector<float> m_upsampleBuffer; // grown only, never shrunk
};
