#pragma once

#include "synth/synthevent.h"

class EnginePitchBendEvent : public SynthEvent
{
public:
    explicit EnginePitchBendEvent(SynthEngine* engine = nullptr, float value = 0.0f);
    void execute() override;

private:
    float m_value;
};
