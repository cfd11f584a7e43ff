#include "dsp/ghettocomp.h"

#include <algorithm>
#include <cmath>

GhettoComp::GhettoComp(float glideMs)
    : m_fGlideMs(glideMs)
{
}

bool GhettoComp::atUnity() const
{
    return std::fabs(m_fCompFactor - 1.0f) <= STEADY;
}

void GhettoComp::process(float* buffer, int numFrames)
{
    if (numFrames <= 0)
        return;
    float sum = 0.0f;
    for (int i = 0; i < numFrames; ++i)
        sum += std::fabs(std::sqrt(buffer[2 * i] * buffer[2 * i] + buffer[2 * i + 1] * buffer[2 * i + 1]));
    const float level = sum / numFrames;
    // A block holding inf or nan would leave the factor there for good.
    const float target = std::isfinite(level) ? std::max(1.0f, 30.0f * level) : m_fCompFactor;

    const float delta = target - m_fCompFactor;
    const float glideSamples = static_cast<float>(m_fGlideMs / 1000.0 * 44100.0);
    const float step = 1.0f / glideSamples;
    const int numSamples = 2 * numFrames;

    if (std::fabs(m_fCompFactor - target) > STEADY) {
        for (int j = 0; j < numSamples; ++j) {
            if (glideSamples > j)
                m_fCompFactor += step * delta;
            buffer[j] *= 1.0f / std::sqrt(m_fCompFactor);
        }
    } else {
        const float gain = 1.0f / std::sqrt(m_fCompFactor);
        for (int j = 0; j < numSamples; ++j)
            buffer[j] *= gain;
    }
}
