#include "synth/percentsynthparameter.h"

std::string PercentSynthParameter::displayText()
{
    return format("%2.0f%s", m_value * 100.0f, m_unit.c_str());
}

SynthParameter* PercentSynthParameter::clone()
{
    return new PercentSynthParameter(*this);
}
