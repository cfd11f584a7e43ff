#pragma once

#include "core/midimessage.h"
#include "core/timedmidieventlist.h"
#include "core/zubtypes.h"

#include <mutex>

// Records the notes played while a loop recorder records, at the loop times
// its owner gives (where in the loop the audio was when the key moved), and
// splits notes held across the loop's end. A note still held when recording
// stops or the recorder hands its notes over ends just before the loop's
// end; a key still down is continued from 0 on the next pass.
// noteOn/noteOff come from the key and MIDI input threads, the rest from the
// message thread: one mutex guards the events between them.
class MidiRecorder
{
public:
    MidiRecorder();

    void setLoopLengthUs(int64 loopLengthUs);
    int64 loopLengthUs() const;
    // Turning recording off ends the notes still held at the loop's end
    // (nowUs: where the loop is, or -1 when not known).
    void setRecord(bool on, int64 nowUs = -1);
    bool isRecording() const;

    // timeUs: the loop time the key went down or up, 0 <= timeUs < length.
    void noteOn(int note, int64 timeUs);
    void noteOff(int note, int64 timeUs);
    // Ends every held note just before the loop's end; keys still down at
    // nowUs go on from 0 once the loop has wrapped.
    void closeHeldNotes(int64 nowUs);
    // Removes the recorded events; keys still down at nowUs go on from 0
    // once the loop has wrapped.
    void clear(int64 nowUs);
    // Removes the events and forgets the keys held.
    void reset();
    // Trades the recorded events for `events` in one step, copying none.
    void swapEvents(TimedMidiEventList& events);

    // A copy, safe to keep while notes go on being recorded.
    TimedMidiEventList events() const;
    // Copies into a list the caller owns; allocates nothing when that list
    // has room, so the audio thread can take the notes of a take.
    void copyEventsTo(TimedMidiEventList& out) const;
    std::size_t numEvents() const;

private:
    void closeHeldLocked(int64 nowUs);
    void continueHeldLocked(int64 nowUs);

    mutable std::mutex m_mutex;
    bool m_bRecord = false;
    TimedMidiEventList m_events;
    // Per key: the loop time of its note on, or -1 when the key is up. A
    // continued key's time is where its note was closed; its note on at 0
    // is written once the loop wraps.
    int64 m_heldSinceUs[MIDI_NUM_NOTES];
    bool m_bContinued[MIDI_NUM_NOTES];
    int64 m_loopLengthUs = 8000000;
};
