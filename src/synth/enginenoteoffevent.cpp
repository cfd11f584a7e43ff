#include "synth/enginenoteoffevent.h"

#include "synth/synthengine.h"

EngineNoteOffEvent::EngineNoteOffEvent(SynthEngine* engine, int note)
    : SynthEvent(engine)
    , m_note(note)
{
}

void EngineNoteOffEvent::execute()
{
    m_pEngine->stopNote(m_note);
}
