#include "core/midimessage.h"

#include <cassert>

MidiMessage::MidiMessage(std::uint8_t status, std::uint8_t data1, std::uint8_t data2)
    : m_status(status)
    , m_data1(data1)
    , m_data2(data2)
{
}

MidiMessage MidiMessage::make(std::uint8_t kind, int velocity, int note, int channel)
{
    assert(channel >= 0 && channel < MIDI_NUM_CHANNELS);
    assert(note >= 0 && note < MIDI_NUM_NOTES);
    assert(velocity >= 0 && velocity < MIDI_NUM_VELOCITIES);
    // Masked so that a bad value can never turn into another kind of message.
    return MidiMessage(kind | (channel & 0x0F), note & 0x7F, velocity & 0x7F);
}

MidiMessage MidiMessage::noteOn(int velocity, int note, int channel)
{
    return make(MIDI_NOTE_ON, velocity, note, channel);
}

MidiMessage MidiMessage::noteOff(int velocity, int note, int channel)
{
    return make(MIDI_NOTE_OFF, velocity, note, channel);
}
