#include "synth/synthprogram.h"

SynthProgram::SynthProgram(int numParameters)
{
    m_parameters.reserve(numParameters);
    for (int i = 0; i < numParameters; ++i)
        m_parameters.emplace_back(new SynthParameter());
}

SynthProgram::SynthProgram(const SynthProgram& other)
    : m_name(other.m_name)
{
    m_parameters.reserve(other.m_parameters.size());
    for (const auto& parameter : other.m_parameters)
        m_parameters.emplace_back(parameter->clone());
}

SynthProgram& SynthProgram::operator=(const SynthProgram& other)
{
    if (this != &other)
        *this = SynthProgram(other);
    return *this;
}

void SynthProgram::setParameter(int index, SynthParameter* parameter)
{
    m_parameters[index].reset(parameter);
}
