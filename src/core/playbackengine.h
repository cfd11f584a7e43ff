#pragma once

#include "core/zubtypes.h"

// Every component of the process cycle: adds its sound to (or transforms) an
// interleaved stereo buffer of numFrames frames, in place.
class PlaybackEngine
{
public:
    virtual void process(float* buffer, int numFrames) = 0;
    // Before a process() call, from a device with a clock of its own: the
    // call's first frame starts playing this many microseconds from now
    // (negative once started), before the output's latency. Components that
    // do not place sound in time ignore it.
    virtual void stampCycleStart(int64 microsFromNow) { (void)microsFromNow; }

protected:
    ~PlaybackEngine() = default;
};
