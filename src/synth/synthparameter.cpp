#include "synth/synthparameter.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>

SynthParameter::SynthParameter(const std::string& name, const std::string& unit, float min, float max,
    float defaultValue)
    : m_name(name)
    , m_unit(unit)
    , m_max(max)
    , m_min(min)
    , m_default(defaultValue)
    , m_value(defaultValue)
{
}

std::string SynthParameter::displayText()
{
    return format("%.2f %s", m_value, m_unit.c_str());
}

void SynthParameter::setValue(float x)
{
    storeClamped(x);
}

SynthParameter* SynthParameter::clone()
{
    return new SynthParameter(*this);
}

void SynthParameter::storeClamped(float x)
{
    m_value = x < m_min ? m_min : std::min(x, m_max);
}

std::string SynthParameter::format(const char* pattern, ...)
{
    char text[128];
    va_list args;
    va_start(args, pattern);
    std::vsnprintf(text, sizeof text, pattern, args);
    va_end(args);
    return text;
}

float SynthParameter::linearFromNormalized(float min, float max, float t)
{
    return min + (max - min) * t;
}

float SynthParameter::linearToNormalized(float min, float max, float v)
{
    return (v - min) / (max - min);
}
