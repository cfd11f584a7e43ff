#include "dsp/fade.h"

namespace {

constexpr float kDefaultFadeSteps = 4410.0f;

} // namespace

void Fade::start(State state, float from, float to, float step)
{
    m_value = from;
    m_state = state;
    m_target = to;
    m_step = step;
}

void Fade::startFade(bool fadeOut)
{
    const float target = fadeOut ? 0.0f : 1.0f;
    if (m_value == target)
        setValue(target);
    else if (fadeOut)
        start(kFadingOut, m_value, 0.0f, -1.0f / kDefaultFadeSteps);
    else
        start(kFadingIn, m_value, 1.0f, 1.0f / kDefaultFadeSteps);
}

void Fade::setValue(float gain)
{
    start(kSteady, gain, gain, 0.0f);
}

void Fade::fadeOut(float ms)
{
    const float steps = ms * 44.1f;
    if (!(steps > 0.0f)) {
        start(kSteady, 0.0f, 0.0f, 0.0f); // no time to ramp: silent at once
        return;
    }
    start(kFadingOut, 1.0f, 0.0f, -1.0f / steps);
}

bool Fade::reachedTarget() const
{
    return m_state == kFadingIn ? m_value >= m_target : m_value <= m_target;
}

void Fade::mixSample(float* dst, const float* src)
{
    if (m_state == kSteady) {
        *dst += m_value * *src;
        return;
    }
    m_value += m_step;
    *dst += m_value * *src;
    if (reachedTarget()) {
        m_state = kSteady;
        m_value = m_target;
        m_step = 0.0f;
    }
}

void Fade::mix(float* dst, const float* src, int64 count)
{
    if (m_state != kSteady) {
        for (int64 i = 0; i < count; ++i)
            mixSample(dst + i, src + i);
        return;
    }
    const float gain = m_value;
    for (int64 i = 0; i < count; ++i)
        dst[i] += gain * src[i];
}

void Fade::process(float* buffer, int numFrames)
{
    if (m_state == kSteady || m_value == m_target)
        return;
    for (int i = 0; i < numFrames; ++i) {
        if (m_state != kSteady) {
            m_value += m_step;
            if (reachedTarget()) {
                m_state = kSteady;
                m_value = m_target;
            }
        }
        buffer[2 * i] *= m_value;
        buffer[2 * i + 1] *= m_value;
    }
}
