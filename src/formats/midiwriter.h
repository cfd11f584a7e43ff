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
    // The same, ending at endSeconds: tracks of one file given the same end
    // all end on the same tick (events past it are written at it).
    int writeTrack(float bpm, const TimedMidiEventList& events, double loopSeconds, int repetitions,
                   double endSeconds);

    // Microseconds per quarter note as the tempo event gives it: ticks are
    // counted from it, so a reader gets back the very ticks written.
    static uint32_t microsecondsPerQuarter(float bpm);
    // Whole ticks up to the time: t x 960 / microseconds per quarter, rounded down.
    static int64 ticksAt(int64 timeUs, uint32_t usPerQuarter);
    // Writes the track count into the header and closes the file.
    int close();

private:
    int writeTrack(float bpm, const TimedMidiEventList& events, double loopSeconds, int repetitions,
                   double endSeconds, bool holdAtEnd);
    void writeVarLen(uint32_t value);
    void writeBytes(std::initializer_list<uint8_t> bytes);
    void writeEvent(int64 tick, uint8_t status, uint8_t data1, uint8_t data2);

    std::FILE* m_pFile = nullptr;
    uint16_t m_numTracks = 0;
    // The track being written; grows as needed, so no track overflows it.
    std::vector<uint8_t> m_trackData;
    int64 m_lastTick = 0;
};
