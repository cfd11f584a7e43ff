#pragma once

#include "qt/devicecontrol.h"
#include "qt/latencyprobe.h"

#include <QApplication>
#include <QString>
#include <QStringList>

class AudioDevice;
class AudioDeviceEnumerator;
class EngineContext;
class LiveInput;
class LogFile;
class MidiThread;
class SingleInstance;
class ZubUI;

// The application: creates every long-lived object in a fixed order, owns
// the audio streams and tears them down in a fixed order at exit.
class ZubApp : public QApplication, public DeviceControl
{
    Q_OBJECT
public:
    // How often Link's session is looked at.
    static constexpr int LINK_POLL_MS = 50;
    // How often the output is looked at for a server or device that went
    // away, and the longest wait between tries to open it again.
    static constexpr int OUTPUT_WATCH_MS = 200;
    static constexpr int OUTPUT_RETRY_MAX_MS = 4000;

    ZubApp(int& argc, char** argv);
    ~ZubApp();

    bool openOutput() override;
    void closeOutput() override;
    QString outputProblem() const override { return m_outputProblem; }
    void createMidiThread() override;
    void deleteMidiThread() override;
    QString midiProblem() const override { return m_midiProblem; }
    bool measureLatency(const QString& inputEntry, double& seconds, QString& why) override;
    void applyLatencyCorrections() override;
    AudioDeviceEnumerator* enumerator() const override { return m_pEnumerator; }
    AudioDevice* outputDevice() const { return m_pOutputDevice; }
    // Hands the engine its input devices and owns the recording stream.
    LiveInput* liveInput() const { return m_pLiveInput; }
    MidiThread* midiThread() const { return m_pMidiThread; }
    // The MIDI input that is open, empty when none is.
    QString midiInputName() const;

    EngineContext* engineContext() const { return m_pEngineContext; }
    ZubUI* mainWindow() const { return m_pMainWindow; }
    bool isFirstRun() const { return m_bFirstRun; }
    // True when a Motifo already ran and took this launch's songs: this one
    // started nothing and ends at once.
    bool handedOver() const { return m_bHandedOver; }
    // Where motifo.log and motifo.1.log are kept.
    static QString logFolder();

    // Sets the identity the settings location is derived from.
    static void setIdentity();
    // Makes the directory that holds `res` the working directory.
    static void findResources();

public slots:
    // Brings the window forward and opens the first song, with the question
    // about unsaved changes.
    void openSongs(const QStringList& songs);

private:
    // SIGTERM and its kind: an orderly end that asks nothing.
    void quitOnSignal(int signal);
    // Shows a device's state in the window and on the page.
    void reportDevice(int kind, const QString& problem);
    // The output stopped under the program: says so, lets the streams go
    // and tries the same device again, waiting longer after each try.
    void watchOutput();
    void outputLost();
    void reopenLostOutput();
    void startLog();

    EngineContext* m_pEngineContext = nullptr;
    ZubUI* m_pMainWindow = nullptr;
    AudioDevice* m_pOutputDevice = nullptr;
    LiveInput* m_pLiveInput = nullptr;
    AudioDeviceEnumerator* m_pEnumerator = nullptr;
    MidiThread* m_pMidiThread = nullptr;
    SingleInstance* m_pInstance = nullptr;
    LogFile* m_pLogFile = nullptr;
    QString m_outputDescription; // for the start-up line
    bool m_bFirstRun = false;
    QString m_outputProblem;
    // "name (host)" of the output that went away, until it plays again, and
    // the live input that was open then.
    QString m_lostOutput;
    QString m_lostInput;
    int m_retryMs = 0;
    int m_lostLooks = 0; // looks at a lost output whose reason is on its way
    QString m_midiProblem;
    LatencyProbe m_probe;
    bool m_bHandedOver = false;
};
