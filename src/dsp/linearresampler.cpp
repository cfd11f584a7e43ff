#include "dsp/linearresampler.h"

#include <algorithm>
#include <cmath>

int LinearResampler::advance(int semitones, double rate)
{
    const float pitch = std::pow(2.0f, semitones / 12.0f);
    m_phase += pitch * rate;
    if (!(m_phase > 1.0))
        return 0;
    // Skip f - 1 frames and read the next. The phase arithmetic for steps above
    // one is kept exactly as the counting passes expect it (2.5 becomes 0.75).
    const int f = static_cast<int>(std::floor(m_phase));
    const int skip = 2 * (f - 1);
    m_phase = (m_phase - 1.0) / std::max(1, skip);
    m_bNeedNew = true;
    return skip;
}

int LinearResampler::next(float* outL, float* outR, int semitones, double rate, const float* src,
                          int numSrcSamples)
{
    const int skip = advance(semitones, rate);
    int consumed = 0;
    if (m_bNeedNew) {
        m_previousL = m_currentL;
        m_previousR = m_currentR;
        if (numSrcSamples < skip + 2)
            return 0; // the source's very end: no frame, nothing consumed
        m_currentL = src[skip];
        m_currentR = src[skip + 1];
        m_bNeedNew = false;
        consumed = skip + 2;
    }
    *outL += m_previousL + (m_currentL - m_previousL) * m_phase;
    *outR += m_previousR + (m_currentR - m_previousR) * m_phase;
    return consumed;
}

int LinearResampler::countNext(int semitones, double rate)
{
    const int skip = advance(semitones, rate);
    if (!m_bNeedNew)
        return 0;
    m_bNeedNew = false;
    return skip + 2;
}
