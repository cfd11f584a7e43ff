#pragma once

#include "synth/synthevent.h"

class EngineNoteOnEvent : public SynthEvent
{
public:
    explicit EngineNoteOnEvent(SynthEngine* engine = nullptr, int note = 0, int velocity = 0);
    void execute() override;

    int note() const { return m_note; }

private:
    int m_note;
    int m_velocity;
};
