#pragma once

#include "synth/synthevent.h"

class EngineNoteOffEvent : public SynthEvent
{
public:
    explicit EngineNoteOffEvent(SynthEngine* engine = nullptr, int note = 0);
    void execute() override;

    int note() const { return m_note; }

private:
    int m_note;
};
