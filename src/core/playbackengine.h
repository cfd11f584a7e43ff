#pragma once

// Every component of the process cycle: adds its sound to (or transforms) an
// interleaved stereo buffer of numFrames frames, in place.
class PlaybackEngine
{
public:
    virtual void process(float* buffer, int numFrames) = 0;

protected:
    ~PlaybackEngine() = default;
};
