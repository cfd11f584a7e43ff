#pragma once

#include "synth/synthparameter.h"

// A 0..1 value shown as a percentage ("70%").
class PercentSynthParameter : public SynthParameter
{
public:
    using SynthParameter::SynthParameter;

    std::string displayText() override;
    SynthParameter* clone() override;
};
