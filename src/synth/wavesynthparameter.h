#pragma once

#include "synth/integersynthparameter.h"

// Selects the oscillator waveform; shows its name.
class WaveSynthParameter : public IntegerSynthParameter
{
public:
    using IntegerSynthParameter::IntegerSynthParameter;

    std::string displayText() override;
    SynthParameter* clone() override;
};
