#pragma once

// The engine's handle on the running output stream, used to stop audio around
// offline rendering. Both return 0 on success, 1 on failure.
class NativeAudioInterface
{
public:
    virtual int start() = 0;
    virtual int stop() = 0;

protected:
    ~NativeAudioInterface() = default;
};
