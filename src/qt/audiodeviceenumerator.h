#pragma once

#include "qt/jacktiming.h"

#include <QList>
#include <QMap>
#include <QObject>
#include <QStringList>
#include <portaudio.h>
#include <future>
#include <memory>
#include <string>
#include <vector>

// Owns PortAudio's initialisation, lists the devices and turns the stored
// settings into stream parameters. PortAudio starts on a thread of its own
// (probing every ALSA card and opening a JACK client takes tens of
// milliseconds) while the window comes up; every call here waits for it.
class AudioDeviceEnumerator : public QObject
{
    Q_OBJECT
public:
    static constexpr int DEFAULT_BUFFER_FRAMES = 1024;

    explicit AudioDeviceEnumerator(QObject* parent = nullptr);
    ~AudioDeviceEnumerator();

    // PortAudio lists its devices once, when it starts: a device or server
    // that came back is seen by starting it again. Indexes may change; no
    // stream may be open.
    void restart();

    // kind 1: output entries "%1. %2 (%3)"; kind 0: input device names.
    QStringList deviceList(int kind);
    QString defaultOutputEntry();
    // The output device the settings choose: by name and host API, by the
    // stored index only when no device of that name is there.
    int outputDeviceIndex();
    // That device's entry of the output list, as Preferences shows it.
    QString currentOutputEntry();
    // "name (host)" of the stored output when no device of that name is
    // there (another plays in its place, if any); empty when it is there.
    QString missingOutput();
    PaStreamParameters outputParameters();
    PaStreamParameters inputParameters(int deviceIndex);
    int sampleRate();
    // The rates the device of an output entry takes; others are refused by
    // it, and any of them is converted to and from the engine's.
    QList<int> sampleRatesForDevice(const QString& entry) const;
    int inputDeviceIndex(int listPosition) const;
    std::vector<std::string> inputDeviceNames();
    // "name (host API)" of each input device, in the order of the input list.
    QStringList inputDeviceEntries();

    // The index in front of an entry ("3. name (host)" -> 3); 0 if none.
    static int parseDeviceIndex(const QString& entry);
    // "name (host)" of an output entry ("3. name (host)").
    static QString nameAndHost(const QString& entry);

    // The stream's buffer size in frames (the stored setting or the default).
    int bufferFrames() const;

private:
    void startPortAudio();
    void stopPortAudio();
    void waitForPortAudio() const;
    bool keepOutputHostApi(const PaHostApiInfo* host) const;

    QMap<int, int> m_inputIndexes;
    std::unique_ptr<JackTiming> m_pJackTiming;
    mutable std::future<void> m_started;
};
