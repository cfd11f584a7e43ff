#pragma once

#include "core/zubtypes.h"

// Sink of live input audio: interleaved stereo frames from the input stream.
class RecordingEngine
{
public:
    virtual void write(const float* frames, int64 numFrames) = 0;
    // When the next frame written was captured, in seconds on the clock the
    // output reports its playback times on. Sinks that do not place input
    // in time ignore it.
    virtual void stampCapture(double seconds) { (void)seconds; }

protected:
    ~RecordingEngine() = default;
};
