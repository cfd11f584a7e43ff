#pragma once

#include "core/zubtypes.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

class TimedMidiEventList;

// Writes a Standard MIDI File, format 1, 960 ticks per quarter note: one
// track per call of writeTrack, each with its tempo and a 4/4 time signature.
// Errors are return codes (0 = success) with a log line.
class MidiWriter
{
public:
    static constexpr int TICKS_PER_QUARTER = 960;

    MidiWriter() = default;
    ~MidiWriter();
    MidiWriter(const MidiWriter&) = delete;
    MidiWriter& operator=(const MidiWriter&) = delete;

    int open(const std::string& path);
    // Writes the notes repetitions times, one loop length apart; the track
    // ends at loopSeconds x repetitions. events must be in time order.
    int writeTrack(float bpm, const TimedMidiEventList& events, double loopSeconds, int repetitions);
    // Writes the track count into the header and closes the file.
    int close();

private:
    void writeVarLen(uint32_t value);
    void writeBytes(std::initializer_list<uint8_t> bytes);
    void writeEvent(int64 tick, uint8_t status, uint8_t data1, uint8_t data2);

    std::FILE* m_pFile = nullptr;
    uint16_t m_numTracks = 0;
    // The track being written; grows as needed, so no track overflows it.
    std::vector<uint8_t> m_trackData;
    int64 m_lastTick = 0;
};
