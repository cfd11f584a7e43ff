#include "synth/enginepitchbendevent.h"

#include "synth/synthengine.h"

EnginePitchBendEvent::EnginePitchBendEvent(SynthEngine* engine, float value)
    : SynthEvent(engine)
    , m_value(value)
{
}

void EnginePitchBendEvent::execute()
{
    m_pEngine->setPitchBend(m_value);
}
