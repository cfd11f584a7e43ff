#pragma once

#include "qt/jacktiming.h"

#include <QList>
#include <QMap>
#include <QObject>
#include <QStringList>
#include <portaudio.h>
#include <memory>
#include <string>
#include <vector>

// Owns PortAudio's initialisation, lists the devices and turns the stored
// settings into stream parameters.
class AudioDeviceEnumerator : public QObject
{
    Q_OBJECT
public:
    static constexpr int DEFAULT_BUFFER_FRAMES = 1024;

    explicit AudioDeviceEnumerator(QObject* parent = nullptr);
    ~AudioDeviceEnumerator();

    // kind 1: output entries "%1. %2 (%3)"; kind 0: input device names.
    QStringList deviceList(int kind);
    QString defaultOutputEntry();
    PaStreamParameters outputParameters();
    PaStreamParameters inputParameters(int deviceIndex);
    int sampleRate();
    QList<int> sampleRatesForDevice(const QString& entry) const;
    int inputDeviceIndex(int listPosition) const;
    std::vector<std::string> inputDeviceNames();

    // The index in front of an entry ("3. name (host)" -> 3); 0 if none.
    static int parseDeviceIndex(const QString& entry);

private:
    int bufferFrames() const;
    bool keepOutputHostApi(const PaHostApiInfo* host) const;

    QMap<int, int> m_inputIndexes;
    std::unique_ptr<JackTiming> m_pJackTiming;
};
