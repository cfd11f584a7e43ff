#pragma once

#include "core/timedmidieventlist.h"
#include "core/zubtypes.h"

// One loop's notes as a track of its idea's MIDI file. The track repeats the
// loop over the idea's longest loop, so that every track of the file ends
// together; reading it back gives the loop's own notes, the first pass, and
// writing those again gives the same bytes.
class LoopTrack
{
public:
    // Passes of a loop of `frames` over the idea's longest loop: whole
    // passes, where the grid may make a long loop a frame or so longer or
    // shorter than its shorter loops repeated.
    static int repetitions(int64 longestFrames, int64 frames);
    // What is written for the loop: every note left open ends just before
    // the loop's end, so the file leaves no note sounding.
    static TimedMidiEventList notesToWrite(const TimedMidiEventList& notes, int64 lengthUs);
    // The loop's own notes from a track read back, which holds them
    // `repetitions` times. tickUs: the file's tick in microseconds.
    static TimedMidiEventList firstPass(const TimedMidiEventList& track, int repetitions, int64 lengthUs,
                                        double tickUs);

private:
    static bool isRepeated(const TimedMidiEventList& track, int repetitions, int64 lengthUs, double tickUs);
};
