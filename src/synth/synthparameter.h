#pragma once

#include <string>

// A named, bounded value of a synth program. Subclasses change how the value
// reads to the user and how it is quantised.
class SynthParameter
{
public:
    using NormalizedMapping = float (*)(float min, float max, float x);

    SynthParameter() = default;
    SynthParameter(const std::string& name, const std::string& unit, float min, float max, float defaultValue);
    virtual ~SynthParameter() = default;

    virtual std::string displayText();
    virtual void setValue(float x);
    virtual SynthParameter* clone();

    float value() const { return m_value; }
    float min() const { return m_min; }
    float max() const { return m_max; }
    float defaultValue() const { return m_default; }
    const std::string& name() const { return m_name; }
    const std::string& unit() const { return m_unit; }

    float fromNormalized(float t) const { return m_fromNormalized(m_min, m_max, t); }
    float toNormalized(float v) const { return m_toNormalized(m_min, m_max, v); }

protected:
    // Clamps to the range; x below the minimum gives the minimum.
    void storeClamped(float x);
    // printf-style formatting into a string, for the display texts.
    static std::string format(const char* pattern, ...);

    NormalizedMapping m_fromNormalized = linearFromNormalized;
    NormalizedMapping m_toNormalized = linearToNormalized;
    std::string m_name = "Unnamed Parameter";
    std::string m_unit;
    float m_max = 1.0f;
    float m_min = 0.0f;
    float m_default = 0.0f;
    float m_value = 0.0f;

private:
    static float linearFromNormalized(float min, float max, float t);
    static float linearToNormalized(float min, float max, float v);
};
