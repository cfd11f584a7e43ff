#pragma once

#include "core/nativeaudiomanagerinterface.h"

#include <QString>
#include <functional>
#include <string>
#include <vector>

class AudioDevice;
class AudioDeviceEnumerator;
class LatencyProbe;
class RecordingBuffer;

// The input-only stream that feeds the live-input instrument. At most one is
// open: choosing a device closes the current one before opening the next.
// Each device's latency correction (settings, by "name (host)") is applied
// to the instrument's buffer when the device opens.
class LiveInput : public NativeAudioManagerInterface
{
public:
    explicit LiveInput(AudioDeviceEnumerator* enumerator);
    ~LiveInput();

    // Where input audio goes: the instrument's buffer, known once the engine exists.
    void setRecordingBuffer(RecordingBuffer* recording) { m_pRecordingBuffer = recording; }
    void setLatencyProbe(LatencyProbe* probe) { m_pProbe = probe; }
    // Told after every open: empty when the device works, else why it does not.
    void setProblemHandler(std::function<void(const QString&)> handler) { m_problemHandler = std::move(handler); }

    // Opens the device at a position of the input list; false when it failed.
    bool openRecording(int position);
    // The same, for an entry of AudioDeviceEnumerator::inputDeviceEntries().
    bool openEntry(const QString& entry);
    void closeRecording();
    AudioDevice* recordingDevice() const { return m_pRecordingDevice; }
    // "name (host)" of the open device; empty when none is open.
    QString openEntryName() const { return m_openEntry; }
    int openPosition() const { return m_openPosition; }

    std::vector<std::string> inputDeviceNames() override;
    // A negative position only closes.
    void setRecordingDevice(int position) override;

    // Milliseconds added to what a device reports of its round trip.
    static double correctionMs(const QString& entry);
    static void setCorrectionMs(const QString& entry, double ms);
    // Applies the stored correction of the open device again.
    void applyCorrection();

    // Plays clicks through the probe, which the running output must carry,
    // and listens for them on the input `entry` (opened for this if another
    // or none is open, and put back after): the middle of three round trips
    // beyond what the devices report, in seconds. False, with the reason,
    // when no click came back.
    bool measureLatency(const QString& entry, double& seconds, QString& why);

    LiveInput(const LiveInput&) = delete;
    LiveInput& operator=(const LiveInput&) = delete;

private:
    // One click there and back; false when it did not come back in time.
    bool measureOnce(double& seconds);

    AudioDeviceEnumerator* m_pEnumerator;
    RecordingBuffer* m_pRecordingBuffer = nullptr;
    LatencyProbe* m_pProbe = nullptr;
    std::function<void(const QString&)> m_problemHandler;
    AudioDevice* m_pRecordingDevice = nullptr;
    QString m_openEntry;
    int m_openPosition = -1;
};
