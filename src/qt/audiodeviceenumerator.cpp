#include "qt/audiodeviceenumerator.h"

#include "qt/qtloghandler.h"
#include "core/zubtypes.h"
#include "qt/jackserverloss.h"
#include "qt/settings.h"

#include <QDebug>
#include <pa_jack.h>

AudioDeviceEnumerator::AudioDeviceEnumerator(QObject* parent)
    : QObject(parent)
{
    // Names the JACK client; only takes effect before initialisation.
    PaJack_SetClientName("motifo");
    m_started = std::async(std::launch::async, [this] { startPortAudio(); });
}

void AudioDeviceEnumerator::waitForPortAudio() const
{
    if (m_started.valid())
        m_started.get();
}

void AudioDeviceEnumerator::startPortAudio()
{
    const PaError e = Pa_Initialize();
    if (e != paNoError)
        qDebug() << "PortAudio initialization error:" << Pa_GetErrorText(e);
    else if (Pa_HostApiTypeIdToHostApiIndex(paJACK) >= 0)
        m_pJackTiming.reset(JackTiming::open());
}

void AudioDeviceEnumerator::stopPortAudio()
{
    // Ending PortAudio's JACK client after it lost its server would fail.
    if (JackServerLoss::clientLost() || (m_pJackTiming && m_pJackTiming->serverGone()))
        JackServerLoss::releaseHostApi();
    m_pJackTiming.reset();
    const PaError e = Pa_Terminate();
    if (e != paNoError)
        qDebug() << "PortAudio error:" << Pa_GetErrorText(e);
}

void AudioDeviceEnumerator::restart()
{
    waitForPortAudio();
    stopPortAudio();
    startPortAudio();
}

AudioDeviceEnumerator::~AudioDeviceEnumerator()
{
    waitForPortAudio();
    stopPortAudio();
}

bool AudioDeviceEnumerator::keepOutputHostApi(const PaHostApiInfo* host) const
{
#ifdef Q_OS_WIN
    // Only the low-latency host APIs are offered on Windows.
    return host && (host->type == paASIO || host->type == paWDMKS || host->type == paWASAPI);
#else
    return host && (host->type == paALSA || host->type == paJACK || host->type == paOSS);
#endif
}

QStringList AudioDeviceEnumerator::deviceList(int kind)
{
    waitForPortAudio();
    QStringList list;
    if (kind == 0)
        m_inputIndexes.clear();
    const int count = Pa_GetDeviceCount();
    for (int i = 0; i < count; ++i) {
        const PaDeviceInfo* info = Pa_GetDeviceInfo(i);
        if (!info)
            continue;
        const PaHostApiInfo* host = Pa_GetHostApiInfo(info->hostApi);
        if (kind == 1) {
            if (!keepOutputHostApi(host) || info->maxOutputChannels < 1)
                continue;
            list << QString("%1. %2 (%3)").arg(i).arg(QString::fromUtf8(info->name), QString::fromUtf8(host->name));
        } else {
            if (info->maxInputChannels < 1)
                continue;
            m_inputIndexes.insert(list.size(), i);
            list << QString::fromUtf8(info->name);
        }
    }
    return list;
}

QString AudioDeviceEnumerator::defaultOutputEntry()
{
    const QStringList outputs = deviceList(1);
#ifdef Q_OS_WIN
    for (const QString& entry : outputs)
        if (entry.contains("WASAPI"))
            return entry;
    return QString();
#else
    // The system's default PCM: a sound server where one runs, else ALSA's default.
    for (const char* name : { ". pipewire (", ". pulse (", ". default (" })
        for (const QString& entry : outputs)
            if (entry.contains(name))
                return entry;
    const int def = Pa_GetDefaultOutputDevice();
    for (const QString& entry : outputs)
        if (parseDeviceIndex(entry) == def)
            return entry;
    return outputs.value(0);
#endif
}

int AudioDeviceEnumerator::parseDeviceIndex(const QString& entry)
{
    return entry.section('.', 0, 0).toInt();
}

int AudioDeviceEnumerator::bufferFrames() const
{
    const int stored = Settings::instance().value("AudioDeviceBufferSize").toInt();
    return stored >= 1 ? stored : DEFAULT_BUFFER_FRAMES;
}

QString AudioDeviceEnumerator::nameAndHost(const QString& entry)
{
    return entry.section(". ", 1);
}

int AudioDeviceEnumerator::outputDeviceIndex()
{
    waitForPortAudio();
    QString entry = Settings::instance().value("AudioDevice");
    if (entry.isEmpty()) {
        entry = defaultOutputEntry();
        Settings::instance().setValue("AudioDevice", entry);
    }
    if (entry == tr("System Default"))
        return Pa_GetDefaultOutputDevice();
    // Indexes move when devices come and go: the name and host API decide,
    // the stored index only when no device of that name is there.
    for (const QString& e : deviceList(1))
        if (nameAndHost(e) == nameAndHost(entry))
            return parseDeviceIndex(e);
    const int index = parseDeviceIndex(entry);
    qCDebug(motifoDebug) << "AudioDevice: Parsed devId" << index;
    if (!Pa_GetDeviceInfo(index)) {
        qDebug() << "Audio device" << index << "not found";
        return 0;
    }
    return index;
}

QString AudioDeviceEnumerator::currentOutputEntry()
{
    const int index = outputDeviceIndex();
    for (const QString& e : deviceList(1))
        if (parseDeviceIndex(e) == index)
            return e;
    return QString();
}

QString AudioDeviceEnumerator::missingOutput()
{
    const QString entry = Settings::instance().value("AudioDevice");
    if (entry.isEmpty() || entry == tr("System Default"))
        return QString();
    for (const QString& e : deviceList(1))
        if (nameAndHost(e) == nameAndHost(entry))
            return QString();
    return nameAndHost(entry);
}

PaStreamParameters AudioDeviceEnumerator::outputParameters()
{
    PaStreamParameters p {};
    p.device = outputDeviceIndex();
    p.channelCount = 2;
    p.sampleFormat = paFloat32;
    p.suggestedLatency = bufferFrames() / 88200.0;
    p.hostApiSpecificStreamInfo = nullptr;
    return p;
}

PaStreamParameters AudioDeviceEnumerator::inputParameters(int deviceIndex)
{
    waitForPortAudio();
    const PaDeviceInfo* info = Pa_GetDeviceInfo(deviceIndex);
    if (!info) {
        qDebug() << "Audio device" << deviceIndex << "not found";
        deviceIndex = 0;
        info = Pa_GetDeviceInfo(0);
    }
    const int channels = info ? std::min(info->maxInputChannels, 2) : 0;
    if (info)
        qCDebug(motifoDebug) << info->name << " Max input channels: " << info->maxInputChannels;
    PaStreamParameters p {};
    p.device = deviceIndex;
    p.channelCount = channels;
    p.sampleFormat = paFloat32;
    p.suggestedLatency = bufferFrames() / 88200.0;
    p.hostApiSpecificStreamInfo = nullptr;
    return p;
}

int AudioDeviceEnumerator::sampleRate()
{
    waitForPortAudio();
    QString value = Settings::instance().value("AudioDeviceSampleRate");
    if (value.isEmpty()) {
        const int def = Pa_GetDefaultOutputDevice();
        const PaDeviceInfo* info = Pa_GetDeviceInfo(def);
        if (!info) {
            qDebug() << "Audio device" << def << "not found";
            return 0;
        }
        value = QString::number(int(info->defaultSampleRate));
        Settings::instance().setValue("AudioDeviceSampleRate", value);
    }
    return value.toInt();
}

QList<int> AudioDeviceEnumerator::sampleRatesForDevice(const QString& entry) const
{
    waitForPortAudio();
    // The engine runs at 44,100 Hz inside; other rates are converted.
    const int index = parseDeviceIndex(entry);
    const PaDeviceInfo* info = Pa_GetDeviceInfo(index);
    if (!info)
        return { ZUB_SAMPLE_RATE };
    PaStreamParameters p {};
    p.device = index;
    p.channelCount = 2;
    p.sampleFormat = paFloat32;
    p.suggestedLatency = info->defaultLowOutputLatency;
    QList<int> rates;
    for (int rate : { 32000, 44100, 48000, 88200, 96000 })
        if (Pa_IsFormatSupported(nullptr, &p, rate) == paFormatIsSupported)
            rates << rate;
    if (rates.isEmpty())
        rates << int(info->defaultSampleRate);
    return rates;
}

int AudioDeviceEnumerator::inputDeviceIndex(int listPosition) const
{
    return m_inputIndexes.value(listPosition, 0);
}

QStringList AudioDeviceEnumerator::inputDeviceEntries()
{
    QStringList entries;
    for (int position = 0; position < deviceList(0).size(); ++position) {
        const PaDeviceInfo* info = Pa_GetDeviceInfo(m_inputIndexes.value(position));
        const PaHostApiInfo* host = info ? Pa_GetHostApiInfo(info->hostApi) : nullptr;
        entries << QString("%1 (%2)").arg(QString::fromUtf8(info ? info->name : ""), host ? QString::fromUtf8(host->name) : QString());
    }
    return entries;
}

std::vector<std::string> AudioDeviceEnumerator::inputDeviceNames()
{
    std::vector<std::string> names;
    for (const QString& name : deviceList(0))
        names.push_back(name.toStdString());
    return names;
}
