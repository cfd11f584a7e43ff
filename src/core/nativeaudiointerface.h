#pragma once

// The engine's handle on the running output stream, used to stop audio around
// offline rendering. Both return 0 on success, 1 on failure.
class NativeAudioInterface
{
public:
    virtual int start() = 0;
    virtual int stop() = 0;
    // Seconds from a cycle to when its first frame is heard; 0 when unknown.
    virtual double outputLatency() const { return 0.0; }

protected:
    ~NativeAudioInterface() = default;
};
