#pragma once

#include "synth/integersynthparameter.h"

// A power-of-two number of beats stored as its exponent: -2 reads "1/4 beats".
class BeatsSynthParameter : public IntegerSynthParameter
{
public:
    using IntegerSynthParameter::IntegerSynthParameter;

    std::string displayText() override;
    SynthParameter* clone() override;
};
