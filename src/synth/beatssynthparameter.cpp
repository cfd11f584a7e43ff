#include "synth/beatssynthparameter.h"

#include <cmath>

std::string BeatsSynthParameter::displayText()
{
    const int exponent = static_cast<int>(m_value);
    if (exponent < 0)
        return format("1/%1.0f %s", std::pow(2.0, -exponent), m_unit.c_str());
    return format("%1.0f %s", std::pow(2.0, exponent), m_unit.c_str());
}

SynthParameter* BeatsSynthParameter::clone()
{
    return new BeatsSynthParameter(*this);
}
