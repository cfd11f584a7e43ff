#include "formats/midireader.h"

#include "core/log.h"

#include <cmath>
#include <cstring>

namespace {

constexpr long kMaxFileBytes = 64L << 20;

} // namespace

// Bounds-checked reading of the file's bytes; reading past the end sets failed.
class MidiReader::Cursor
{
public:
    Cursor(const uint8_t* begin, const uint8_t* end) : m_p(begin), m_end(end) { }

    std::size_t left() const { return std::size_t(m_end - m_p); }
    bool failed() const { return m_bFailed; }
    const uint8_t* position() const { return m_p; }

    uint8_t byte()
    {
        if (m_p == m_end) {
            m_bFailed = true;
            return 0;
        }
        return *m_p++;
    }
    bool peek(uint8_t& b) const
    {
        if (m_p == m_end)
            return false;
        b = *m_p;
        return true;
    }
    uint32_t bigEndian(int numBytes)
    {
        uint32_t v = 0;
        for (int i = 0; i < numBytes; ++i)
            v = (v << 8) | byte();
        return v;
    }
    // At most four 7-bit groups.
    uint32_t varLen()
    {
        uint32_t v = 0;
        for (int i = 0; i < 4; ++i) {
            const uint8_t b = byte();
            v = (v << 7) | (b & 0x7F);
            if (!(b & 0x80))
                return v;
        }
        m_bFailed = true;
        return 0;
    }
    void skip(std::size_t n)
    {
        if (n > left()) {
            m_bFailed = true;
            n = left();
        }
        m_p += n;
    }
    bool matches(const char* id)
    {
        if (left() < 4 || std::memcmp(m_p, id, 4) != 0)
            return false;
        m_p += 4;
        return true;
    }

private:
    const uint8_t* m_p;
    const uint8_t* m_end;
    bool m_bFailed = false;
};

MidiReader::~MidiReader()
{
    close();
}

int MidiReader::open(const std::string& path)
{
    close();
    m_path = path;
    m_fTempo = 120.0f;
    m_usPerQuarter = 500000;
    m_tick = 0;
    m_pFile = std::fopen(path.c_str(), "rb");
    if (!m_pFile) {
        logError() << "Failed to open MIDI file: " << path;
        return 1;
    }
    return 0;
}

void MidiReader::close()
{
    if (m_pFile)
        std::fclose(m_pFile);
    m_pFile = nullptr;
}

int MidiReader::read(std::vector<TimedMidiEventList>& tracks)
{
    if (!m_pFile)
        return 1;
    std::vector<uint8_t> data;
    uint8_t block[65536];
    std::size_t got;
    while ((got = std::fread(block, 1, sizeof(block), m_pFile)) > 0 && long(data.size()) < kMaxFileBytes)
        data.insert(data.end(), block, block + got);
    Cursor in(data.data(), data.data() + data.size());
    const char* error = readHeader(in);
    while (!error && in.left() > 0) {
        if (!in.matches("MTrk")) {
            error = "track chunk id is not MTrk";
            break;
        }
        const uint32_t length = in.bigEndian(4);
        if (in.failed() || length > in.left()) {
            error = "track chunk longer than the file";
            break;
        }
        Cursor chunk(in.position(), in.position() + length);
        in.skip(length);
        TimedMidiEventList track;
        error = readTrack(chunk, track);
        if (!error)
            tracks.push_back(std::move(track));
    }
    if (!error)
        return 0;
    logError() << "Malformed MIDI file " << m_path << ": " << error << "; keeping the " << tracks.size()
              << " tracks read before";
    return 1;
}

const char* MidiReader::readHeader(Cursor& in)
{
    if (!in.matches("MThd"))
        return "no MThd header";
    const uint32_t size = in.bigEndian(4);
    const uint32_t format = in.bigEndian(2);
    in.bigEndian(2); // the track count is not needed
    const uint32_t division = in.bigEndian(2);
    if (in.failed() || size != 6)
        return "header length is not 6";
    if (format != 1)
        return "not format 1";
    if (division == 0 || (division & 0x8000))
        return "division is not in ticks per quarter note";
    m_ticksPerQuarter = int(division);
    logDebug() << "ticks per beat: " << m_ticksPerQuarter;
    return nullptr;
}

const char* MidiReader::readTrack(Cursor& in, TimedMidiEventList& track)
{
    m_tick = 0;
    uint8_t runningStatus = 0;
    bool endOfTrack = false;
    while (!endOfTrack && in.left() > 0) {
        const uint32_t delta = in.varLen();
        m_tick += delta;
        logDebug() << "event time: " << m_tick << ", delta: " << delta;
        uint8_t status = 0;
        if (!in.peek(status))
            return "event without a status byte";
        if (status < 0x80) {
            // Running status: the data bytes follow without their status.
            if (!runningStatus)
                return "data byte without a status";
            status = runningStatus;
        } else {
            in.byte();
            runningStatus = status < 0xF0 ? status : 0;
        }
        const char* error = nullptr;
        if (status == 0xF0 || status == 0xF7)
            in.skip(in.varLen()); // system exclusive: length, then the data
        else if (status == 0xFF)
            error = readMeta(in, endOfTrack);
        else if (status < 0xF0)
            error = readChannelMessage(in, status, track);
        else
            error = "system message in a track";
        if (error)
            return error;
        if (in.failed())
            return "event runs past the end of its track";
    }
    return nullptr;
}

const char* MidiReader::readMeta(Cursor& in, bool& endOfTrack)
{
    const uint8_t type = in.byte();
    const uint32_t length = in.varLen();
    if (in.failed())
        return "meta event cut short";
    switch (type) {
    case 0x2F:
        if (length != 0)
            return "end of track with data";
        endOfTrack = true;
        return nullptr;
    case 0x51: {
        const uint32_t usPerQuarter = in.bigEndian(3);
        if (length != 3 || usPerQuarter == 0)
            return "tempo event of the wrong length";
        m_usPerQuarter = usPerQuarter;
        m_fTempo = 60000000.0f / float(usPerQuarter);
        logDebug() << "Read tempo (BPM): " << m_fTempo;
        return nullptr;
    }
    case 0x58: {
        if (length != 4)
            return "time signature of the wrong length";
        const int numerator = in.byte(), power = in.byte(), clocks = in.byte(), thirtySeconds = in.byte();
        if (thirtySeconds != 8)
            return "time signature without 8 32nds per quarter";
        logDebug() << "Read time signature: " << numerator << " / " << (1 << (power & 15));
        logDebug() << "Metro: " << clocks << ", 32nds: " << thirtySeconds;
        return nullptr;
    }
    default:
        logDebug() << "Skipping unrecognized MIDI meta type data";
        in.skip(length);
        return nullptr;
    }
}

const char* MidiReader::readChannelMessage(Cursor& in, uint8_t status, TimedMidiEventList& track)
{
    // Program change and channel pressure carry one data byte.
    const int kind = status & 0xF0;
    const bool oneByte = kind == 0xC0 || kind == 0xD0;
    const uint8_t data1 = in.byte();
    const uint8_t data2 = oneByte ? 0 : in.byte();
    if (in.failed())
        return "channel message cut short";
    if ((data1 | data2) & 0x80)
        return "status byte where a data byte belongs";
    // The first microsecond of the tick: written again, it gives that very tick.
    const int64 timeUs = (m_tick * m_usPerQuarter + m_ticksPerQuarter - 1) / m_ticksPerQuarter;
    logDebug() << "event time in seconds: " << timeUs / 1000000.0;
    logDebug() << "Read midi event: " << int(status) << " " << int(data1) << " " << int(data2);
    track.addEvent(timeUs, MidiMessage(status, data1, data2));
    return nullptr;
}
