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

void TimedMidiEventList::closeOpenNotes(int64 lengthUs)
{
    // Per channel and note, how many note ons are still waiting for an off.
    int open[MIDI_NUM_CHANNELS][MIDI_NUM_NOTES] = {};
    for (const auto& [time, message] : m_events) {
        int& depth = open[message.channel()][message.note() & 0x7F];
        if (message.isNoteOn())
            ++depth;
        else if (message.isNoteOff() && depth > 0)
            --depth;
    }
    for (int channel = 0; channel < MIDI_NUM_CHANNELS; ++channel)
        for (int note = 0; note < MIDI_NUM_NOTES; ++note)
            for (int i = 0; i < open[channel][note]; ++i)
                addEvent(std::max<int64>(lengthUs - 1, 0), MidiMessage::noteOff(64, note, channel));
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
