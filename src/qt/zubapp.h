#pragma once

#include "core/nativeaudiomanagerinterface.h"
#include "qt/devicecontrol.h"

#include <QApplication>

class AudioDevice;
class AudioDeviceEnumerator;
class EngineContext;
class LiveInput;
class MidiThread;
class ZubUI;

// The application: creates every long-lived object in a fixed order, owns
// the audio streams and tears them down in a fixed order at exit.
class ZubApp : public QApplication, public NativeAudioManagerInterface, public DeviceControl
{
    Q_OBJECT
public:
    ZubApp(int& argc, char** argv);
    ~ZubApp();

    void openOutput() override;
    void closeOutput() override;
    void openRecording(int position);
    void closeRecording();
    void createMidiThread() override;
    void deleteMidiThread() override;
    AudioDeviceEnumerator* enumerator() const override { return m_pEnumerator; }
    AudioDevice* outputDevice() const { return m_pOutputDevice; }
    AudioDevice* recordingDevice() const;
    MidiThread* midiThread() const { return m_pMidiThread; }
    // The MIDI input that is open, empty when none is.
    QString midiInputName() const;

    std::vector<std::string> inputDeviceNames() override;
    void setRecordingDevice(int position) override;

    EngineContext* engineContext() const { return m_pEngineContext; }
    ZubUI* mainWindow() const { return m_pMainWindow; }
    bool isFirstRun() const { return m_bFirstRun; }

    // Sets the identity the settings location is derived from.
    static void setIdentity();
    // Makes the directory that holds `res` the working directory.
    static void findResources();

private:
    EngineContext* m_pEngineContext = nullptr;
    ZubUI* m_pMainWindow = nullptr;
    AudioDevice* m_pOutputDevice = nullptr;
    LiveInput* m_pLiveInput = nullptr; // the recording device
    AudioDeviceEnumerator* m_pEnumerator = nullptr;
    MidiThread* m_pMidiThread = nullptr;
    bool m_bFirstRun = false;
};
