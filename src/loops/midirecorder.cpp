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

} // namespace

MidiRecorder::MidiRecorder(const ZubClock& clock)
    : m_clock(clock)
{
    std::fill(std::begin(m_noteOnTimeUs), std::end(m_noteOnTimeUs), -1);
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

void MidiRecorder::start()
{
    std::lock_guard lock(m_mutex);
    m_startTimeUs = m_clock.nowMicros();
}

void MidiRecorder::setRecord(bool on)
{
    std::lock_guard lock(m_mutex);
    m_bRecord = on;
}

bool MidiRecorder::isRecording() const
{
    std::lock_guard lock(m_mutex);
    return m_bRecord;
}

int64 MidiRecorder::loopTimeUs() const
{
    const int64 t = (m_clock.nowMicros() - m_startTimeUs) % m_loopLengthUs;
    return t < 0 ? t + m_loopLengthUs : t;
}

void MidiRecorder::noteOn(int note)
{
    if (!isNote(note))
        return;
    std::lock_guard lock(m_mutex);
    if (!m_bRecord || m_noteOnTimeUs[note] != -1)
        return;
    const int64 t = loopTimeUs();
    logDebug() << "note on at " << static_cast<float>(t) / 1000000.0f << " seconds.";
    m_events.addEvent(t, MidiMessage::noteOn(kVelocity, note, kChannel));
    m_noteOnTimeUs[note] = t;
}

void MidiRecorder::noteOff(int note)
{
    if (!isNote(note))
        return;
    std::lock_guard lock(m_mutex);
    if (m_noteOnTimeUs[note] == -1)
        return;
    const int64 onTime = m_noteOnTimeUs[note];
    // Released keys are never left held, or the key could not be recorded again.
    m_noteOnTimeUs[note] = -1;
    if (!m_bRecord)
        return;
    const MidiMessage off = MidiMessage::noteOff(kVelocity, note, kChannel);
    const int64 t = loopTimeUs();
    if (onTime > t) {
        // Held across the loop's end: end it there and start it again at 0.
        m_events.addEvent(m_loopLengthUs - 1, off);
        m_events.addEventAtFront(0, MidiMessage::noteOn(kVelocity, note, kChannel));
        logDebug() << "Note wrapped, splitting it up!";
    }
    m_events.addEvent(t, off);
}

void MidiRecorder::clear()
{
    std::lock_guard lock(m_mutex);
    m_events.clear();
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
