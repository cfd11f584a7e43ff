#pragma once

#include "synth/synthparameter.h"

#include <memory>
#include <string>
#include <vector>

// A named set of parameters. Copies clone every parameter, keeping its class.
class SynthProgram
{
public:
    explicit SynthProgram(int numParameters = 0);
    SynthProgram(const SynthProgram& other);
    SynthProgram& operator=(const SynthProgram& other);
    SynthProgram(SynthProgram&&) noexcept = default;
    SynthProgram& operator=(SynthProgram&&) noexcept = default;

    int numParameters() const { return static_cast<int>(m_parameters.size()); }
    SynthParameter* parameter(int index) const { return m_parameters[index].get(); }
    // Read on the audio thread: no copy of the list.
    float value(int index) const { return m_parameters[index]->value(); }
    // Takes ownership; replaces the parameter at index.
    void setParameter(int index, SynthParameter* parameter);

    const std::string& name() const { return m_name; }
    void setName(const std::string& name) { m_name = name; }

private:
    std::vector<std::unique_ptr<SynthParameter>> m_parameters;
    std::string m_name = "Unnamed Program";
};
