#pragma once

#include "core/midimessage.h"
#include "core/zubtypes.h"

#include <json/value.h>

#include <cstddef>
#include <utility>
#include <vector>

// MIDI messages stamped in microseconds from the loop start, kept in time
// order; events with equal times keep the order they were added in.
class TimedMidiEventList
{
public:
    using Event = std::pair<int64, MidiMessage>;

    virtual ~TimedMidiEventList() = default;

    // After every event at an equal or earlier time.
    void addEvent(int64 timeUs, const MidiMessage& message);
    // Before every other event: the restart of a note held across the loop's end.
    void addEventAtFront(int64 timeUs, const MidiMessage& message);
    void clear() { m_events.clear(); }
    // Trades events with another list without copying any.
    void swap(TimedMidiEventList& other) { m_events.swap(other.m_events); }
    // Room for this many events: copying a list of at most that size into
    // this one then allocates nothing.
    void reserve(std::size_t numEvents) { m_events.reserve(numEvents); }

    // The "notes" array: one {"time", "note", "length"} per note on that has a
    // matching note off, in the order of the note ons.
    Json::Value toJson() const;
    // Every note on without a later note off of its note gets one just
    // before lengthUs, the end of its loop, so no note is left sounding.
    void closeOpenNotes(int64 lengthUs);

    const std::vector<Event>& events() const { return m_events; }

private:
    std::vector<Event> m_events;
};
