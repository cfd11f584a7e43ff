#pragma once

#include "synth/synthparameter.h"

// A whole-number parameter: values are floored before they are clamped.
class IntegerSynthParameter : public SynthParameter
{
public:
    IntegerSynthParameter(const std::string& name, const std::string& unit, float min, float max, float defaultValue);

    std::string displayText() override;
    void setValue(float x) override;
    SynthParameter* clone() override;

private:
    static float flooredFromNormalized(float min, float max, float t);
    static float flooredToNormalized(float min, float max, float v);
};
