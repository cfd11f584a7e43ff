#include "formats/looptrack.h"

#include <algorithm>
#include <climits>
#include <cstdlib>

int LoopTrack::repetitions(int64 longestFrames, int64 frames)
{
    if (frames <= 0 || longestFrames <= frames)
        return 1;
    const int64 nearest = (longestFrames + frames / 2) / frames;
    // Within a frame per pass of the longest loop: that many passes.
    const int64 passes = std::llabs(longestFrames - nearest * frames) <= nearest ? nearest : longestFrames / frames;
    return int(std::clamp<int64>(passes, 1, INT_MAX));
}

TimedMidiEventList LoopTrack::notesToWrite(const TimedMidiEventList& notes, int64 lengthUs)
{
    TimedMidiEventList closed = notes;
    closed.closeOpenNotes(lengthUs);
    return closed;
}

// The track holds the same events `repetitions` times, each pass a loop
// length after the one before (within two ticks; the last may be held at the end).
bool LoopTrack::isRepeated(const TimedMidiEventList& track, int repetitions, int64 lengthUs, double tickUs)
{
    const auto& events = track.events();
    if (repetitions < 2 || events.empty() || events.size() % std::size_t(repetitions) != 0)
        return false;
    const std::size_t perPass = events.size() / std::size_t(repetitions);
    for (std::size_t r = 1; r < std::size_t(repetitions); ++r) {
        for (std::size_t i = 0; i < perPass; ++i) {
            const auto& first = events[i];
            const auto& again = events[r * perPass + i];
            const double expected = double(first.first) + double(r) * double(lengthUs);
            if (!(again.second == first.second) || double(again.first) > expected + 2.0 * tickUs + 1.0
                || double(again.first) < expected - 2.0 * tickUs - repetitions * ZUB_MICROSECONDS_PER_FRAME)
                return false;
        }
    }
    return true;
}

TimedMidiEventList LoopTrack::firstPass(const TimedMidiEventList& track, int repetitions, int64 lengthUs,
                                        double tickUs)
{
    const auto& events = track.events();
    TimedMidiEventList pass;
    if (isRepeated(track, repetitions, lengthUs, tickUs)) {
        // Written as equal passes one after the other: the first of them, by
        // count, wherever the next pass's first note lands in time.
        const std::size_t perPass = events.size() / std::size_t(repetitions);
        for (std::size_t i = 0; i < perPass; ++i)
            pass.addEvent(std::min(events[i].first, lengthUs), events[i].second);
        return pass;
    }
    // A file written otherwise: what lies within the loop, except note ons
    // too close to its end to be anything but the next pass's first notes.
    for (const auto& [time, message] : events) {
        if (time > lengthUs)
            break;
        if (message.isNoteOn() && double(time) > double(lengthUs) - 2.0 * tickUs)
            continue;
        pass.addEvent(time, message);
    }
    return pass;
}
