#pragma once

#include <cstdint>

constexpr int MIDI_NUM_CHANNELS = 16;
constexpr int MIDI_NUM_NOTES = 128;
constexpr int MIDI_NUM_VELOCITIES = 128;
// The kinds of channel message: a status byte's high four bits.
constexpr int MIDI_KIND_MASK = 0xF0;
constexpr int MIDI_NOTE_OFF = 0x80;
constexpr int MIDI_NOTE_ON = 0x90;
constexpr int MIDI_CONTROL_CHANGE = 0xB0;
constexpr int MIDI_PROGRAM_CHANGE = 0xC0;

// A three-byte MIDI channel message.
class MidiMessage
{
public:
    MidiMessage() = default;
    MidiMessage(std::uint8_t status, std::uint8_t data1, std::uint8_t data2);

    // Channel below MIDI_NUM_CHANNELS, note and velocity below 128.
    static MidiMessage noteOn(int velocity, int note, int channel);
    static MidiMessage noteOff(int velocity, int note, int channel);

    bool isNoteOn() const { return (m_status & MIDI_KIND_MASK) == MIDI_NOTE_ON; }
    bool isNoteOff() const { return (m_status & MIDI_KIND_MASK) == MIDI_NOTE_OFF; }
    // What the MIDI file writer writes.
    bool isNoteOnOrOff() const { return isNoteOn() || isNoteOff(); }

    std::uint8_t status() const { return m_status; }
    std::uint8_t data1() const { return m_data1; }
    std::uint8_t data2() const { return m_data2; }
    int note() const { return m_data1; }
    int velocity() const { return m_data2; }
    int channel() const { return m_status & 0x0F; }

    bool operator==(const MidiMessage&) const = default;

private:
    static MidiMessage make(std::uint8_t kind, int velocity, int note, int channel);

    std::uint8_t m_status = 0;
    std::uint8_t m_data1 = 0;
    std::uint8_t m_data2 = 0;
};
