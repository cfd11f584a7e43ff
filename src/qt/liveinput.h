#pragma once

#include "core/nativeaudiomanagerinterface.h"

#include <string>
#include <vector>

class AudioDevice;
class AudioDeviceEnumerator;
class RecordingEngine;

// The input-only stream that feeds the live-input instrument. At most one is
// open: choosing a device closes the current one before opening the next.
class LiveInput : public NativeAudioManagerInterface
{
public:
    explicit LiveInput(AudioDeviceEnumerator* enumerator);
    ~LiveInput();

    // Where input audio goes: the instrument's buffer, known once the engine exists.
    void setRecordingEngine(RecordingEngine* recording) { m_pRecordingEngine = recording; }

    // Opens the device at a position of the input list.
    void openRecording(int position);
    void closeRecording();
    AudioDevice* recordingDevice() const { return m_pRecordingDevice; }

    std::vector<std::string> inputDeviceNames() override;
    // A negative position only closes.
    void setRecordingDevice(int position) override;

    LiveInput(const LiveInput&) = delete;
    LiveInput& operator=(const LiveInput&) = delete;

private:
    AudioDeviceEnumerator* m_pEnumerator;
    RecordingEngine* m_pRecordingEngine = nullptr;
    AudioDevice* m_pRecordingDevice = nullptr;
};
