#include "synth/enginenoteonevent.h"

#include "synth/synthengine.h"

EngineNoteOnEvent::EngineNoteOnEvent(SynthEngine* engine, int note, int velocity)
    : SynthEvent(engine)
    , m_note(note)
    , m_velocity(velocity)
{
}

void EngineNoteOnEvent::execute()
{
    m_pEngine->startNote(m_note, m_velocity);
}
