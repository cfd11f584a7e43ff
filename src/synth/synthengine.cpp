#include "synth/synthengine.h"

#include "core/log.h"
#include "synth/syntheventqueue.h"

SynthEngine::SynthEngine(int numVoices, int numInputs, int numOutputs, const char* productName,
    const char* vendorName, const char* effectName, int version)
    : m_numInputs(numInputs)
    , m_numOutputs(numOutputs)
    , m_productName(productName)
    , m_vendorName(vendorName)
    , m_effectName(effectName)
    , m_version(version)
    , m_numVoices(numVoices)
    , m_voiceNotes(numVoices, -1)
    , m_pEventQueue(new SynthEventQueue())
{
}

SynthEngine::~SynthEngine()
{
    // Events are held by value, so what is still queued goes with the queue.
    logDebug() << "CLEARING QUEUE";
}

void SynthEngine::setProgram(int index)
{
    if (index < 0 || index >= numPrograms())
        return;
    m_iCurrentProgram = index;
}

int SynthEngine::noteOn(int note, int velocity, int delay)
{
    return m_pEventQueue->push(delay, EngineNoteOnEvent(this, note, velocity)) ? 0 : -1;
}

int SynthEngine::noteOff(int note, int delay)
{
    return m_pEventQueue->push(delay, EngineNoteOffEvent(this, note)) ? 0 : -1;
}

int SynthEngine::pitchBend(float value, int delay)
{
    return m_pEventQueue->push(delay, EnginePitchBendEvent(this, value)) ? 0 : -1;
}

int SynthEngine::allNotesOff()
{
    int dropped = 0;
    for (int note = 0; note < 128; ++note)
        dropped += noteOff(note, 0) != 0;
    return dropped;
}

void SynthEngine::addProgram(const SynthProgram& program)
{
    m_programs.push_back(program);
}

void SynthEngine::dispatchEvents()
{
    // Executed entries leave the queue while i keeps counting, so a pass may
    // stop before the last entries; the next frame's pass handles them.
    m_pEventQueue->beginPass();
    for (int i = 0; i < m_pEventQueue->size(); ++i) {
        SynthEventQueue::Entry entry = m_pEventQueue->takeOldest();
        entry.countdown -= 1;
        if (entry.countdown > 0)
            m_pEventQueue->putBack(entry);
        else
            std::visit([](auto& event) { event.execute(); }, entry.event);
    }
    m_pEventQueue->endPass();
}

bool SynthEngine::hasPendingEvents() const
{
    return m_pEventQueue->size() > 0;
}
