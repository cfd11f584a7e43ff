#pragma once

// Plays interleaved stereo at another rate, one output frame per call, by
// linear interpolation between the last two source frames read. Keeps its
// phase and frames from call to call; never allocates.
class LinearResampler
{
public:
    virtual ~LinearResampler() = default;

    // Adds one interpolated frame to *outL and *outR and returns the source
    // samples consumed (0 or 2 x frames). src is the next unread source frame
    // with numSrcSamples readable; the caller advances src by the result. When
    // too few samples are readable nothing is added and 0 is returned.
    int next(float* outL, float* outR, int semitones, double rate, const float* src, int numSrcSamples);

    // The phase steps of next() without reading a source, as if the source
    // never ran out: the samples next() would consume. For sizing buffers.
    int countNext(int semitones, double rate);

    double phase() const { return m_phase; }

private:
    // Moves the phase one output frame on; returns the samples to skip before
    // the frame to read.
    int advance(int semitones, double rate);

    double m_phase = 0.0;
    float m_currentL = 0.0f;
    float m_currentR = 0.0f;
    float m_previousL = 0.0f;
    float m_previousR = 0.0f;
    bool m_bNeedNew = true;
};
