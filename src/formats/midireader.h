#pragma once

#include "core/timedmidieventlist.h"
#include "core/zubtypes.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// Reads a Standard MIDI File (format 1) into one event list per track, with
// times in microseconds at the tempo in force. Running status and messages
// with one data byte are understood. A malformed file stops the reading with
// a log line; the tracks read until then are kept.
class MidiReader
{
public:
    MidiReader() = default;
    ~MidiReader();
    MidiReader(const MidiReader&) = delete;
    MidiReader& operator=(const MidiReader&) = delete;

    // Returns 0, or 1 with a log line when the file cannot be opened.
    int open(const std::string& path);
    // Appends one list per track chunk. Returns 0, or 1 for a malformed file.
    int read(std::vector<TimedMidiEventList>& tracks);
    void close();

    float tempo() const { return m_fTempo; }
    int ticksPerQuarter() const { return m_ticksPerQuarter; }

private:
    class Cursor;

    // Each returns null when all is well, else what is wrong with the file.
    const char* readHeader(Cursor& in);
    const char* readTrack(Cursor& in, TimedMidiEventList& track);
    const char* readMeta(Cursor& in, bool& endOfTrack);
    const char* readChannelMessage(Cursor& in, uint8_t status, TimedMidiEventList& track);

    std::FILE* m_pFile = nullptr;
    std::string m_path;
    float m_fTempo = 120.0f;
    uint32_t m_usPerQuarter = 500000;
    int m_ticksPerQuarter = 960;
    int64 m_tick = 0;
};
