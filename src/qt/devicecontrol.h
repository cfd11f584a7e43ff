#pragma once

class AudioDeviceEnumerator;

// What the preferences need from the application: the device lists and a
// way to restart the audio output and the MIDI input.
class DeviceControl
{
public:
    virtual AudioDeviceEnumerator* enumerator() const = 0;
    virtual void openOutput() = 0;
    virtual void closeOutput() = 0;
    virtual void createMidiThread() = 0;
    virtual void deleteMidiThread() = 0;

protected:
    ~DeviceControl() = default;
};
