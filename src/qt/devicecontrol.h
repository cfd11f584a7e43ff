#pragma once

#include <QString>

class AudioDeviceEnumerator;

// What the preferences need from the application: the device lists, a way
// to restart the audio output and the MIDI input and to learn why they did
// not start, and the latency measurement.
class DeviceControl
{
public:
    virtual AudioDeviceEnumerator* enumerator() const = 0;
    // False when the output could not start; outputProblem() says why.
    virtual bool openOutput() = 0;
    virtual void closeOutput() = 0;
    virtual QString outputProblem() const = 0;
    virtual void createMidiThread() = 0;
    virtual void deleteMidiThread() = 0;
    // Empty while the MIDI input works or none is chosen.
    virtual QString midiProblem() const = 0;
    // Plays a click on the output and listens for it on the input (an entry
    // of the enumerator's inputDeviceEntries()): the round trip the devices
    // do not report, in seconds. False, with the reason, when nothing came back.
    virtual bool measureLatency(const QString& inputEntry, double& seconds, QString& why) = 0;
    // The stored latency corrections take effect on the open live input.
    virtual void applyLatencyCorrections() = 0;

protected:
    ~DeviceControl() = default;
};
