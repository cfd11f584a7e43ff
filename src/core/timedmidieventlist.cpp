#include "core/timedmidieventlist.h"

#include <algorithm>

void TimedMidiEventList::addEvent(int64 timeUs, const MidiMessage& message)
{
    const auto pos = std::upper_bound(m_events.begin(), m_events.end(), timeUs,
                                      [](int64 t, const Event& e) { return t < e.first; });
    m_events.insert(pos, Event(timeUs, message));
}

void TimedMidiEventList::addEventAtFront(int64 timeUs, const MidiMessage& message)
{
    m_events.insert(m_events.begin(), Event(timeUs, message));
}

Json::Value TimedMidiEventList::toJson() const
{
    Json::Value notes(Json::arrayValue);
    for (auto on = m_events.begin(); on != m_events.end(); ++on) {
        if (!on->second.isNoteOn())
            continue;
        const int note = on->second.note();
        const auto off = std::find_if(on + 1, m_events.end(), [note](const Event& e) {
            return e.second.isNoteOff() && e.second.note() == note;
        });
        if (off == m_events.end())
            continue;
        Json::Value entry(Json::objectValue);
        entry["time"] = Json::Int64(on->first);
        entry["note"] = note;
        entry["length"] = Json::Int64(off->first - on->first);
        notes.append(entry);
    }
    return notes;
}
