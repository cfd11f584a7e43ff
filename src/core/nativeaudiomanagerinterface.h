#pragma once

#include <string>
#include <vector>

// The engine's access to audio input devices (implemented by the application).
class NativeAudioManagerInterface
{
public:
    virtual std::vector<std::string> inputDeviceNames() = 0;
    // A negative index closes the recording stream.
    virtual void setRecordingDevice(int index) = 0;

protected:
    ~NativeAudioManagerInterface() = default;
};
