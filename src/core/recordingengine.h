#pragma once

#include "core/zubtypes.h"

// Sink of live input audio: interleaved stereo frames from the input stream.
class RecordingEngine
{
public:
    virtual void write(const float* frames, int64 numFrames) = 0;

protected:
    ~RecordingEngine() = default;
};
