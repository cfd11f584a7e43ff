#include "loops/midirecorder.h"

#include "core/log.h"

#include <algorithm>

namespace {

constexpr int kVelocity = 64;
constexpr int kChannel = 0;

bool isNote(int note)
{
    return note >= 0 && note < MIDI_NUM_NOTES;
}

MidiMessage on(int note)
{
    return MidiMessage::noteOn(kVelocity, note, kChannel);
}

MidiMessage off(int note)
{
    return MidiMessage::noteOff(kVelocity, note, kChannel);
}

} // namespace

MidiRecorder::MidiRecorder()
{
    std::fill(std::begin(m_heldSinceUs), std::end(m_heldSinceUs), -1);
    std::fill(std::begin(m_bContinued), std::end(m_bContinued), false);
}

void MidiRecorder::setLoopLengthUs(int64 loopLengthUs)
{
    if (loopLengthUs <= 0) {
        logInfo() << "Ignoring MIDI loop length " << loopLengthUs;
        return;
    }
    std::lock_guard lock(m_mutex);
    m_loopLengthUs = loopLengthUs;
}

int64 MidiRecorder::loopLengthUs() const
{
    std::lock_guard lock(m_mutex);
    return m_loopLengthUs;
}

void MidiRecorder::setRecord(bool on, int64 nowUs)
{
    std::lock_guard lock(m_mutex);
    if (m_bRecord && !on) {
        // Nothing more is recorded: what is held ends with the loop.
        closeHeldLocked(nowUs);
        std::fill(std::begin(m_heldSinceUs), std::end(m_heldSinceUs), -1);
    }
    m_bRecord = on;
}

bool MidiRecorder::isRecording() const
{
    std::lock_guard lock(m_mutex);
    return m_bRecord;
}

void MidiRecorder::noteOn(int note, int64 timeUs)
{
    if (!isNote(note))
        return;
    {
        std::lock_guard lock(m_mutex);
        if (!m_bRecord || m_heldSinceUs[note] != -1)
            return;
        m_events.addEvent(timeUs, on(note));
        m_heldSinceUs[note] = timeUs;
        m_bContinued[note] = false;
    }
    logDebug() << "note on at " << static_cast<float>(timeUs) / 1000000.0f << " seconds.";
}

void MidiRecorder::noteOff(int note, int64 timeUs)
{
    if (!isNote(note))
        return;
    bool wrapped = false;
    {
        std::lock_guard lock(m_mutex);
        const int64 since = m_heldSinceUs[note];
        // Released keys are never left held, or the key could not be recorded again.
        m_heldSinceUs[note] = -1;
        if (since == -1 || !m_bRecord)
            return;
        if (m_bContinued[note]) {
            // Its note was closed at the loop's end: it goes on from 0 only
            // when the key stayed down past the wrap.
            if (timeUs < since) {
                m_events.addEventAtFront(0, on(note));
                m_events.addEvent(timeUs, off(note));
            }
            return;
        }
        if (since > timeUs) {
            // Held across the loop's end: end it there and start it again at 0.
            m_events.addEvent(m_loopLengthUs - 1, off(note));
            m_events.addEventAtFront(0, on(note));
            wrapped = true;
        }
        m_events.addEvent(timeUs, off(note));
    }
    if (wrapped)
        logDebug() << "Note wrapped, splitting it up!";
}

// nowUs -1: the loop has not wrapped since a continued note was closed.
void MidiRecorder::closeHeldLocked(int64 nowUs)
{
    const int64 end = m_loopLengthUs - 1;
    for (int note = 0; note < MIDI_NUM_NOTES; ++note) {
        const int64 since = m_heldSinceUs[note];
        if (since == -1)
            continue;
        const bool wrappedSince = nowUs >= 0 && nowUs < since;
        if (m_bContinued[note]) {
            if (wrappedSince) {
                m_events.addEventAtFront(0, on(note));
                m_events.addEvent(end, off(note));
            }
            continue;
        }
        m_events.addEvent(end, off(note));
        if (wrappedSince) {
            // Down since the last pass: its part from 0 ends where the loop is.
            m_events.addEventAtFront(0, on(note));
            m_events.addEvent(nowUs, off(note));
        }
    }
}

void MidiRecorder::continueHeldLocked(int64 nowUs)
{
    for (int note = 0; note < MIDI_NUM_NOTES; ++note) {
        if (m_heldSinceUs[note] == -1)
            continue;
        m_heldSinceUs[note] = std::max<int64>(nowUs, 0);
        m_bContinued[note] = true;
    }
}

void MidiRecorder::closeHeldNotes(int64 nowUs)
{
    std::lock_guard lock(m_mutex);
    if (!m_bRecord)
        return;
    closeHeldLocked(nowUs);
    continueHeldLocked(nowUs);
}

void MidiRecorder::clear(int64 nowUs)
{
    std::lock_guard lock(m_mutex);
    m_events.clear();
    continueHeldLocked(nowUs);
}

void MidiRecorder::reset()
{
    std::lock_guard lock(m_mutex);
    m_events.clear();
    std::fill(std::begin(m_heldSinceUs), std::end(m_heldSinceUs), -1);
}

void MidiRecorder::swapEvents(TimedMidiEventList& events)
{
    std::lock_guard lock(m_mutex);
    m_events.swap(events);
}

TimedMidiEventList MidiRecorder::events() const
{
    std::lock_guard lock(m_mutex);
    return m_events;
}

void MidiRecorder::copyEventsTo(TimedMidiEventList& out) const
{
    std::lock_guard lock(m_mutex);
    out = m_events;
}

std::size_t MidiRecorder::numEvents() const
{
    std::lock_guard lock(m_mutex);
    return m_events.events().size();
}
