#pragma once

#include "dsp/adsrsettings.h"
#include "dsp/envelope.h"

#include <cstdint>

class ADSR : public Envelope
{
public:
    explicit ADSR(ADSRSettings* settings);

    float advance(double dt) override;
    bool isActive() override;
    void noteOn(double amplitude) override;
    void noteOff() override;

private:
    double m_time = 0.0;
    std::int32_t m_state = 0; // 0 idle, 1 attack/decay/sustain, 2 release
    ADSRSettings* m_pSettings;
    double m_amplitude = 0.0;
    double m_level = 0.0;
};
