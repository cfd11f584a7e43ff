#include "dsp/adsr.h"

ADSR::ADSR(ADSRSettings* settings)
    : m_pSettings(settings)
{
}

float ADSR::advance(double dt)
{
    m_time += dt;
    switch (m_state) {
    case 0:
        return 0.0f;
    case 1: {
        const double a = m_pSettings->attack;
        const double d = m_pSettings->decay;
        const double s = m_pSettings->sustain;
        double e;
        // Strict comparisons skip a zero-length phase without dividing by it.
        if (m_time < a)
            e = m_time / a;
        else if (m_time < a + d)
            e = 1.0 - (1.0 - s) * (m_time - a) / d;
        else
            e = s;
        m_level = e;
        return static_cast<float>(m_amplitude * e);
    }
    case 2: {
        const double r = m_pSettings->release;
        if (m_time < r)
            return static_cast<float>(m_amplitude * (m_level - m_level * m_time / r));
        m_state = 0;
        return 0.0f;
    }
    default: // the audio thread: an unknown state is silent, never logged
        return 0.0f;
    }
}

bool ADSR::isActive()
{
    return m_state == 1 || m_state == 2;
}

void ADSR::noteOn(double amplitude)
{
    m_state = 1;
    m_time = 0.0;
    m_amplitude = amplitude;
}

void ADSR::noteOff()
{
    // A second note-off must not restart the release.
    if (m_state != 2) {
        m_state = 2;
        m_time = 0.0;
    }
}
