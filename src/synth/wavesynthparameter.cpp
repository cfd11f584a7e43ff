#include "synth/wavesynthparameter.h"

#include <iterator>

std::string WaveSynthParameter::displayText()
{
    static const char* const kNames[] = { "Sine", "Square", "Saw", "Poly", "Son of Poly" };
    const int wave = static_cast<int>(m_value);
    if (wave < 0 || wave >= static_cast<int>(std::size(kNames)))
        return std::string();
    return kNames[wave];
}

SynthParameter* WaveSynthParameter::clone()
{
    return new WaveSynthParameter(*this);
}
