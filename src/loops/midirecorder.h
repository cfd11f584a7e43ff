#pragma once

#include "core/midimessage.h"
#include "core/timedmidieventlist.h"
#include "core/zubclock.h"

#include <mutex>

// Stamps the notes played while a loop recorder records, folds their times
// into the loop length and splits notes held across the loop's end.
// noteOn/noteOff come from the key and MIDI input threads, the rest from the
// message thread: one mutex guards the events between them.
class MidiRecorder
{
public:
    explicit MidiRecorder(const ZubClock& clock = ZubClock::system());

    void setLoopLengthUs(int64 loopLengthUs);
    // The clock origin: time 0 of the loop.
    void start();
    void setRecord(bool on);
    bool isRecording() const;

    void noteOn(int note);
    void noteOff(int note);
    // Removes the recorded events; notes being held stay held.
    void clear();
    // Trades the recorded events for `events` in one step, copying none.
    void swapEvents(TimedMidiEventList& events);

    // A copy, safe to keep while notes go on being recorded.
    TimedMidiEventList events() const;
    // Copies into a list the caller owns; allocates nothing when that list
    // has room, so the audio thread can take the notes of a take.
    void copyEventsTo(TimedMidiEventList& out) const;
    std::size_t numEvents() const;

private:
    int64 loopTimeUs() const;

    const ZubClock& m_clock;
    mutable std::mutex m_mutex;
    bool m_bRecord = false;
    TimedMidiEventList m_events;
    int64 m_startTimeUs = 0;
    int64 m_noteOnTimeUs[MIDI_NUM_NOTES]; // -1: not held
    int64 m_loopLengthUs = 8000000;
};
