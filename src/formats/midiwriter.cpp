#include "formats/midiwriter.h"

#include "core/log.h"
#include "core/timedmidieventlist.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr std::size_t kTrackBufferBytes = 131072;
constexpr uint32_t kMaxVarLen = 0x0FFFFFFF; // four 7-bit groups

void appendBigEndian32(std::vector<uint8_t>& out, uint32_t v)
{
    out.insert(out.end(), { uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v) });
}

} // namespace

MidiWriter::~MidiWriter()
{
    close();
}

int MidiWriter::open(const std::string& path)
{
    close();
    m_pFile = std::fopen(path.c_str(), "wb");
    if (!m_pFile) {
        logInfo() << "MidiWriter: Failed to open file " << path;
        return 1;
    }
    m_numTracks = 0;
    // The track count is written as 1 now and replaced on close.
    const uint8_t header[14] = { 'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 1, 0, 1, 0x03, 0xC0 };
    if (std::fwrite(header, 1, sizeof(header), m_pFile) != sizeof(header)) {
        logInfo() << "MidiWriter: Failed to write header to " << path;
        return 1;
    }
    return 0;
}

void MidiWriter::writeVarLen(uint32_t value)
{
    value = std::min(value, kMaxVarLen);
    uint8_t groups[4];
    int n = 0;
    do {
        groups[n++] = value & 0x7F;
        value >>= 7;
    } while (value);
    while (n-- > 0)
        m_trackData.push_back(groups[n] | (n > 0 ? 0x80 : 0));
}

void MidiWriter::writeBytes(std::initializer_list<uint8_t> bytes)
{
    m_trackData.insert(m_trackData.end(), bytes);
}

void MidiWriter::writeEvent(int64 tick, uint8_t status, uint8_t data1, uint8_t data2)
{
    logDebug() << "tick: " << tick << " bytes: " << int(status) << " " << int(data1) << " " << int(data2);
    // Times only go forward: a late event is written at the last tick.
    writeVarLen(uint32_t(std::clamp<int64>(tick - m_lastTick, 0, kMaxVarLen)));
    writeBytes({ status, data1, data2 });
    m_lastTick = std::max(m_lastTick, tick);
}

uint32_t MidiWriter::microsecondsPerQuarter(float bpm)
{
    return std::clamp<uint32_t>(uint32_t(60000000.0 / bpm), 1, 0xFFFFFF);
}

int64 MidiWriter::ticksAt(int64 timeUs, uint32_t usPerQuarter)
{
    return std::max<int64>(timeUs, 0) * TICKS_PER_QUARTER / usPerQuarter;
}

namespace {

// The tick nearest to the time: where a pass or the track ends.
int64 nearestTick(int64 timeUs, uint32_t usPerQuarter)
{
    return (std::max<int64>(timeUs, 0) * MidiWriter::TICKS_PER_QUARTER + usPerQuarter / 2) / usPerQuarter;
}

} // namespace

int MidiWriter::writeTrack(float bpm, const TimedMidiEventList& events, double loopSeconds, int repetitions)
{
    return writeTrack(bpm, events, loopSeconds, repetitions, loopSeconds * repetitions, false);
}

int MidiWriter::writeTrack(float bpm, const TimedMidiEventList& events, double loopSeconds, int repetitions,
                           double endSeconds)
{
    return writeTrack(bpm, events, loopSeconds, repetitions, endSeconds, true);
}

int MidiWriter::writeTrack(float bpm, const TimedMidiEventList& events, double loopSeconds, int repetitions,
                           double endSeconds, bool holdAtEnd)
{
    if (!m_pFile) {
        logInfo() << "MidiWriter: no file open for the track";
        return 1;
    }
    if (repetitions < 1 || !(bpm > 0.0f) || !(loopSeconds >= 0.0) || !(endSeconds >= 0.0)
        || m_numTracks == UINT16_MAX) {
        logInfo() << "MidiWriter: refusing track (bpm " << bpm << ", " << loopSeconds << " s, " << repetitions
                  << " repetitions)";
        return 1;
    }
    ++m_numTracks;
    m_trackData.clear();
    m_trackData.reserve(kTrackBufferBytes);
    m_lastTick = 0;
    const uint32_t usPerQuarter = microsecondsPerQuarter(bpm);
    // The end to the nearest tick; no event is written past it.
    const int64 endUs = std::llround(endSeconds * 1000000.0);
    const int64 endTick = std::min<int64>(nearestTick(endUs, usPerQuarter), INT32_MAX);
    writeBytes({ 0, 0xFF, 0x51, 0x03, uint8_t(usPerQuarter >> 16), uint8_t(usPerQuarter >> 8), uint8_t(usPerQuarter) });
    writeBytes({ 0, 0xFF, 0x58, 0x04, 0x04, 0x02, 0x18, 0x08 });

    for (int r = 1; r <= repetitions && !events.events().empty(); ++r) {
        // A pass's ticks are the first pass's moved by the pass's start, so a
        // note read back a fraction of a tick early is written on the same
        // tick in every pass.
        const int64 offsetTicks = nearestTick(std::llround((r - 1) * loopSeconds * 1000000.0), usPerQuarter);
        for (const auto& [time, message] : events.events()) {
            if (!message.isNoteOnOrOff())
                continue;
            const int64 tick = ticksAt(time, usPerQuarter) + offsetTicks;
            writeEvent(holdAtEnd ? std::min(tick, endTick) : tick, message.status(), message.data1(), message.data2());
        }
    }

    logDebug() << "writing end of track event";
    logDebug() << "deltaEventTime: " << endTick - m_lastTick;
    logDebug() << "endOfTrackTime (pulses): " << endTick;
    writeVarLen(uint32_t(std::clamp<int64>(endTick - m_lastTick, 0, kMaxVarLen)));
    writeBytes({ 0xFF, 0x2F, 0x00 });
    m_lastTick = std::max(m_lastTick, endTick);

    std::vector<uint8_t> chunk = { 'M', 'T', 'r', 'k' };
    appendBigEndian32(chunk, uint32_t(m_trackData.size()));
    const bool ok = std::fwrite(chunk.data(), 1, chunk.size(), m_pFile) == chunk.size()
        && std::fwrite(m_trackData.data(), 1, m_trackData.size(), m_pFile) == m_trackData.size();
    m_trackData = {};
    if (!ok) {
        logInfo() << "MidiWriter: failed to write a track";
        return 1;
    }
    return 0;
}

int MidiWriter::close()
{
    if (!m_pFile)
        return 0;
    const uint8_t count[2] = { uint8_t(m_numTracks >> 8), uint8_t(m_numTracks) };
    bool ok = std::fseek(m_pFile, 10, SEEK_SET) == 0 && std::fwrite(count, 1, 2, m_pFile) == 2;
    ok = std::fclose(m_pFile) == 0 && ok;
    m_pFile = nullptr;
    if (!ok) {
        logInfo() << "MidiWriter: failed to finish the file";
        return 1;
    }
    return 0;
}
