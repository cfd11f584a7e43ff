// Writes a Standard MIDI File that plays a list of notes one after another,
// for rendering instrument samples with a SoundFont player.
//
//   zubnotes OUT.mid CHANNEL PROGRAM HOLD_MS STEP_MS NOTE...
//
// Note k starts at k x STEP_MS and is released HOLD_MS later, at velocity
// 100; the file ends STEP_MS after the last note starts. CHANNEL is 0..15
// (9 is the General MIDI drum channel); PROGRAM 0..127 is sent first.

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

namespace {

// 500 ticks per quarter note at the default 120 bpm: one tick per millisecond.
constexpr int kTicksPerQuarter = 500;
constexpr int kVelocity = 100;

void putVarLength(std::vector<std::uint8_t>& out, std::uint32_t value)
{
    std::uint8_t bytes[5];
    int n = 0;
    do {
        bytes[n++] = value & 0x7F;
        value >>= 7;
    } while (value > 0);
    while (n-- > 0)
        out.push_back(bytes[n] | (n > 0 ? 0x80 : 0));
}

void putBigEndian(std::vector<std::uint8_t>& out, std::uint32_t value, int bytes)
{
    for (int i = bytes - 1; i >= 0; --i)
        out.push_back((value >> (8 * i)) & 0xFF);
}

struct Event
{
    std::uint32_t time;
    std::vector<std::uint8_t> bytes;
};

std::vector<std::uint8_t> track(int channel, int program, int hold, int step, const std::vector<int>& notes)
{
    std::vector<Event> events;
    events.push_back({ 0, { std::uint8_t(0xC0 | channel), std::uint8_t(program) } });
    for (std::size_t k = 0; k < notes.size(); ++k) {
        const auto start = static_cast<std::uint32_t>(k * step);
        const auto note = static_cast<std::uint8_t>(notes[k]);
        events.push_back({ start, { std::uint8_t(0x90 | channel), note, kVelocity } });
        events.push_back({ start + hold, { std::uint8_t(0x80 | channel), note, 0 } });
    }
    events.push_back({ static_cast<std::uint32_t>(notes.size() * step), { 0xFF, 0x2F, 0x00 } });
    std::vector<std::uint8_t> data;
    std::uint32_t now = 0;
    for (const Event& e : events) {
        putVarLength(data, e.time - now);
        now = e.time;
        data.insert(data.end(), e.bytes.begin(), e.bytes.end());
    }
    return data;
}

int usage()
{
    std::cerr << "usage: zubnotes OUT.mid CHANNEL PROGRAM HOLD_MS STEP_MS NOTE...\n";
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 7)
        return usage();
    const int channel = std::atoi(argv[2]);
    const int program = std::atoi(argv[3]);
    const int hold = std::atoi(argv[4]);
    const int step = std::atoi(argv[5]);
    std::vector<int> notes;
    for (int i = 6; i < argc; ++i)
        notes.push_back(std::atoi(argv[i]));
    bool valid = channel >= 0 && channel < 16 && program >= 0 && program < 128 && hold > 0 && step >= hold;
    for (int note : notes)
        valid = valid && note >= 0 && note < 128;
    if (!valid)
        return usage();

    const std::vector<std::uint8_t> data = track(channel, program, hold, step, notes);
    std::vector<std::uint8_t> file = { 'M', 'T', 'h', 'd' };
    putBigEndian(file, 6, 4);
    putBigEndian(file, 0, 2); // format 0
    putBigEndian(file, 1, 2);
    putBigEndian(file, kTicksPerQuarter, 2);
    file.insert(file.end(), { 'M', 'T', 'r', 'k' });
    putBigEndian(file, static_cast<std::uint32_t>(data.size()), 4);
    file.insert(file.end(), data.begin(), data.end());

    std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
    if (!out) {
        std::cerr << "cannot write " << argv[1] << "\n";
        return 1;
    }
    return 0;
}
