#include "synth/integersynthparameter.h"

#include <cmath>

IntegerSynthParameter::IntegerSynthParameter(const std::string& name, const std::string& unit, float min,
    float max, float defaultValue)
    : SynthParameter(name, unit, min, max, defaultValue)
{
    m_fromNormalized = flooredFromNormalized;
    m_toNormalized = flooredToNormalized;
}

std::string IntegerSynthParameter::displayText()
{
    return format("%d %s", static_cast<int>(m_value), m_unit.c_str());
}

void IntegerSynthParameter::setValue(float x)
{
    storeClamped(std::floor(x));
}

SynthParameter* IntegerSynthParameter::clone()
{
    return new IntegerSynthParameter(*this);
}

float IntegerSynthParameter::flooredFromNormalized(float min, float max, float t)
{
    return std::floor(min + (max - min) * t);
}

float IntegerSynthParameter::flooredToNormalized(float min, float max, float v)
{
    return (std::floor(v) - min) / (max - min);
}
