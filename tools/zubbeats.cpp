// Writes a Standard MIDI File of a General MIDI drum pattern, for rendering
// drum loops with a SoundFont player.
//
//   zubbeats OUT.mid STYLE BPM BEATS REPEATS
//
// STYLE is one of rock, hiphop, ballad, house, breakbeat. The pattern fills
// BEATS beats at BPM (bars of four beats, sixteenth-note steps) and is
// written REPEATS times, so that a render can take a repetition whose start
// holds the tails of the one before.

#include "core/timedmidieventlist.h"
#include "formats/midiwriter.h"

#include <cstdlib>
#include <iostream>
#include <map>
#include <string>
#include <vector>

namespace {

constexpr int kDrumChannel = 9;
constexpr int kStepsPerBar = 16;

// One drum and its hits over a bar of sixteenths ('x' loud, 'o' soft).
struct Lane {
    int note;
    const char* steps;
};

const std::map<std::string, std::vector<Lane>> kStyles = {
    { "rock", { { 36, "x.......x.x....." }, { 38, "....x.......x..." }, { 42, "x.x.x.x.x.x.x.x." } } },
    { "hiphop", { { 36, "x......x..x....." }, { 38, "....x.......x..o" }, { 42, "x.xox.x.x.xox.x." } } },
    { "ballad", { { 36, "x.........x....." }, { 37, "....x.......x..." }, { 51, "x...x...x...x..." } } },
    { "house", { { 36, "x...x...x...x..." }, { 39, "....x.......x..." }, { 46, "..x...x...x...x." },
                   { 42, "x.o.x.o.x.o.x.o." } } },
    { "breakbeat", { { 36, "x.........x..x.." }, { 38, "....x..o.o..x..." }, { 42, "x.x.x.x.x.x.x.x." } } },
};

} // namespace

int main(int argc, char** argv)
{
    if (argc != 6 || !kStyles.count(argv[2])) {
        std::cerr << "usage: zubbeats OUT.mid rock|hiphop|ballad|house|breakbeat BPM BEATS REPEATS" << std::endl;
        return 2;
    }
    const std::vector<Lane>& lanes = kStyles.at(argv[2]);
    const float bpm = float(std::atof(argv[3]));
    const int beats = std::atoi(argv[4]);
    const int repeats = std::atoi(argv[5]);
    if (!(bpm > 0.0f) || beats < 1 || repeats < 1) {
        std::cerr << "zubbeats: BPM, BEATS and REPEATS must be positive" << std::endl;
        return 2;
    }
    const double stepUs = 60000000.0 / bpm / 4.0;
    const int steps = beats * 4;
    TimedMidiEventList events;
    for (int s = 0; s < steps; ++s) {
        for (const Lane& lane : lanes) {
            const char hit = lane.steps[s % kStepsPerBar];
            if (hit == '.')
                continue;
            const auto on = static_cast<int64>(s * stepUs);
            events.addEvent(on, MidiMessage::noteOn(hit == 'x' ? 110 : 60, lane.note, kDrumChannel));
            events.addEvent(on + static_cast<int64>(stepUs / 2), MidiMessage::noteOff(0, lane.note, kDrumChannel));
        }
    }
    MidiWriter writer;
    if (writer.open(argv[1]) != 0)
        return 1;
    const int rc = writer.writeTrack(bpm, events, steps * stepUs / 1000000.0, repeats);
    return (writer.close() | rc) == 0 ? 0 : 1;
}
