#include "qt/audiodevice.h"

#include "core/recordingbuffer.h"
#include "core/recordingengine.h"
#include "core/zubtypes.h"
#include "dsp/captureresampler.h"
#include "dsp/playbackresampler.h"
#include "qt/jackserverloss.h"
#include "qt/latencyprobe.h"

#include <QDebug>
#include <QObject>
#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

int streamCallback(const void* input, void* output, unsigned long frameCount, const PaStreamCallbackTimeInfo* time,
    PaStreamCallbackFlags, void* userData)
{
    // PortAudio's audio thread.
    static_cast<AudioDevice*>(userData)->processBuffer(
        frameCount, static_cast<float*>(output), static_cast<const float*>(input), time);
    return paContinue;
}

QString errorText(PaError e)
{
    if (e == paUnanticipatedHostError) {
        const PaHostErrorInfo* host = Pa_GetLastHostErrorInfo();
        if (host && host->errorText && *host->errorText)
            return QString::fromUtf8(host->errorText);
    }
    return QString::fromUtf8(Pa_GetErrorText(e));
}

} // namespace

AudioDevice::AudioDevice(PlaybackEngine* playback, RecordingEngine* recording, const PaStreamParameters* output,
    const PaStreamParameters* input, int sampleRate)
    : m_pPlaybackEngine(playback)
    , m_pRecordingEngine(recording)
    , m_pOutputParams(output ? new PaStreamParameters(*output) : nullptr)
    , m_pInputParams(input ? new PaStreamParameters(*input) : nullptr)
    , m_pMixingBuffer(new float[MIXING_BUF_SIZE])
    , m_sampleRate(sampleRate)
{
    m_tap.device = this;
}

AudioDevice::~AudioDevice()
{
    delete m_pOutputParams;
    delete m_pInputParams;
    delete[] m_pMixingBuffer;
}

QString AudioDevice::deviceName() const
{
    const PaStreamParameters* p = m_pOutputParams ? m_pOutputParams : m_pInputParams;
    const PaDeviceInfo* info = p ? Pa_GetDeviceInfo(p->device) : nullptr;
    if (!info)
        return p ? QString("audio device %1").arg(p->device) : QString("audio device");
    const PaHostApiInfo* host = Pa_GetHostApiInfo(info->hostApi);
    return QString("%1 (%2)").arg(QString::fromUtf8(info->name), host ? QString::fromUtf8(host->name) : QString());
}

void AudioDevice::fail(PaError e)
{
    m_lastError = deviceName() + ": " + errorText(e);
    qDebug() << "PortAudio error:" << Pa_GetErrorText(e) << "on" << deviceName();
}

int AudioDevice::open(double rate)
{
    return Pa_OpenStream(&m_pStream, m_pInputParams, m_pOutputParams, rate, paFramesPerBufferUnspecified, paNoFlag,
        streamCallback, this);
}

int AudioDevice::start()
{
    m_lastError.clear();
    if (m_pInputParams && (m_pInputParams->channelCount < 1 || m_pInputParams->channelCount > 2)) {
        m_lastError = deviceName() + QString(": input streams of %1 channels are not supported").arg(m_pInputParams->channelCount);
        qDebug() << "PortAudio error:" << m_lastError;
        return 1;
    }
    const PaStreamParameters* p = m_pOutputParams ? m_pOutputParams : m_pInputParams;
    const PaDeviceInfo* info = p ? Pa_GetDeviceInfo(p->device) : nullptr;
    const int ownRate = info ? int(info->defaultSampleRate) : 0;
    int rate = m_sampleRate > 0 ? m_sampleRate : ownRate;
    PaError e = open(rate);
    if (e == paInvalidSampleRate && ownRate > 0 && ownRate != rate) {
        // A JACK or PipeWire server runs at its own rate; so do many devices.
        qDebug() << deviceName() << "refuses" << rate << "Hz; opening it at its own" << ownRate << "Hz";
        rate = ownRate;
        e = open(rate);
    }
    if (e != paNoError) {
        m_pStream = nullptr;
        fail(e);
        return 1;
    }
    m_deviceRate = rate;
    m_deviceFrames = 0;
    m_pPlaybackResampler.reset();
    m_pCaptureResampler.reset();
    if (rate != ZUB_SAMPLE_RATE) {
        qDebug() << deviceName() << "runs at" << rate << "Hz; converting to and from" << ZUB_SAMPLE_RATE << "Hz";
        if (m_pOutputParams)
            m_pPlaybackResampler = std::make_unique<PlaybackResampler>(&m_tap, rate);
        if (m_pInputParams)
            m_pCaptureResampler = std::make_unique<CaptureResampler>(m_pInputParams->channelCount, rate);
    }
    // The stream's ports exist once it is open; they are read before it runs.
    const PaHostApiInfo* host = info ? Pa_GetHostApiInfo(info->hostApi) : nullptr;
    m_bJackHost = host && host->type == paJACK;
    m_pJack = m_bJackHost ? JackTiming::current() : nullptr;
    m_jackPorts = m_pJack ? m_pJack->streamPorts(m_pOutputParams != nullptr) : decltype(m_jackPorts) {};
    m_jackOutputLatency.store(-1.0, std::memory_order_relaxed);
    e = Pa_StartStream(m_pStream);
    if (e != paNoError) {
        fail(e);
        return 1;
    }
    m_bRunning = true;
    return 0;
}

bool AudioDevice::isLost() const
{
    return m_pStream && m_bRunning && Pa_IsStreamActive(m_pStream) != 1;
}

QString AudioDevice::lostReason() const
{
    const QString server = m_pJack ? m_pJack->shutdownReason() : QString();
    return server.isEmpty() ? QObject::tr("it stopped playing") : server;
}

bool AudioDevice::knowsLostReason() const
{
    return !m_pJack || m_pJack->serverGone();
}

int AudioDevice::stop()
{
    if (!m_pStream)
        return 0;
    PaError e = paNoError;
    if (m_bJackHost && isLost()) {
        // Stopping would wait for a server that is gone. A stream PortAudio
        // would not let go of is left to it.
        if (!JackServerLoss::releaseStream(m_pStream))
            m_pStream = nullptr;
    } else
        e = Pa_StopStream(m_pStream);
    if (e != paNoError) {
        fail(e);
        return 1;
    }
    m_bRunning = false;
    if (m_pStream)
        e = Pa_CloseStream(m_pStream);
    m_pStream = nullptr; // the next start() opens a fresh stream
    m_pJack = nullptr;
    if (e != paNoError) {
        fail(e);
        return 1;
    }
    return 0;
}

double AudioDevice::outputLatency() const
{
    // PortAudio's JACK host reports less than the way to the speakers, which
    // JACK's own ports know (512 frames on a 256-frame server, not 256).
    const double jack = m_jackOutputLatency.load(std::memory_order_relaxed);
    if (m_pJack && jack >= 0.0)
        return jack;
    const PaStreamInfo* info = m_pStream ? Pa_GetStreamInfo(m_pStream) : nullptr;
    return info ? info->outputLatency : 0.0;
}

double AudioDevice::bufferTime(const PaStreamCallbackTimeInfo* time, bool output)
{
    if (m_pJack) {
        const double start = m_pJack->cycleStart();
        const double latency = JackTiming::latencyFrames(m_jackPorts, output) / double(m_deviceRate);
        if (output)
            m_jackOutputLatency.store(latency, std::memory_order_relaxed);
        return output ? start + latency : start - latency;
    }
    if (!time)
        return -1.0;
    const double t = output ? time->outputBufferDacTime : time->inputBufferAdcTime;
    return t > 0.0 ? t : -1.0;
}

void AudioDevice::processBuffer(unsigned long numFrames, float* out, const float* in, const PaStreamCallbackTimeInfo* time)
{
    if (in && m_pRecordingEngine && m_pInputParams)
        recordInput(in, numFrames, bufferTime(time, false));
    if (out && numFrames > 0) {
        playOutput(out, numFrames, bufferTime(time, true));
        if (m_pProbe)
            m_pProbe->play(out, long(numFrames), m_bufferHeardAt);
    }
    m_deviceFrames += int64_t(numFrames);
}

void AudioDevice::playOutput(float* out, unsigned long numFrames, double heardAt)
{
    m_bufferHeardAt = heardAt;
    if (m_pPlaybackResampler) {
        m_pPlaybackResampler->render(out, int64(numFrames));
        return;
    }
    std::memset(out, 0, sizeof(float) * ZUB_FRAMESIZE * numFrames);
    m_tap.process(out, int(numFrames));
}

void AudioDevice::EngineTap::process(float* buffer, int numFrames)
{
    AudioDevice* d = device;
    if (d->m_pLiveInput) {
        const double heard = d->m_bufferHeardAt;
        d->m_pLiveInput->setOutputTime(heard >= 0.0 ? heard + d->blockOffset() : heard);
    }
    if (!d->m_pPlaybackEngine)
        return;
    // Read just before the engine reads its own clock, so that little time passes between.
    int64_t cycleStartUs = 0;
    if (d->m_pJack && d->m_pJack->cycleStartFromNow(cycleStartUs))
        d->m_pPlaybackEngine->stampCycleStart(cycleStartUs + std::llround(d->blockOffset() * 1e6));
    d->m_pPlaybackEngine->process(buffer, numFrames);
}

double AudioDevice::blockOffset() const
{
    if (!m_pPlaybackResampler)
        return 0.0;
    // Engine frame e is device frame e x ratio of this stream.
    const PlaybackResampler& r = *m_pPlaybackResampler;
    return (double(r.engineFrames()) * r.ratio() - double(m_deviceFrames)) / m_deviceRate;
}

void AudioDevice::recordInput(const float* in, unsigned long numFrames, double capturedAt)
{
    const int channels = m_pInputParams->channelCount;
    if (channels != 1 && channels != 2)
        return;
    if (m_pProbe)
        m_pProbe->listen(in, long(numFrames), channels, capturedAt, m_deviceRate);
    if (m_pCaptureResampler) {
        CaptureResampler& r = *m_pCaptureResampler;
        r.convert(in, int64(numFrames), [&](const float* frames, int64 count) {
            if (capturedAt >= 0.0) {
                // Engine frame e stands for device frame e / ratio of this stream.
                const double first = double(r.engineFrames() - count) / r.ratio() - double(m_deviceFrames);
                m_pRecordingEngine->stampCapture(capturedAt + first / m_deviceRate);
            }
            m_pRecordingEngine->write(frames, count);
        });
        return;
    }
    if (channels == 1) {
        recordMono(in, numFrames, capturedAt);
        return;
    }
    if (capturedAt >= 0.0)
        m_pRecordingEngine->stampCapture(capturedAt);
    m_pRecordingEngine->write(in, static_cast<int64>(numFrames));
}

void AudioDevice::recordMono(const float* in, unsigned long numFrames, double capturedAt)
{
    // Callbacks larger than the conversion buffer are passed on in pieces.
    unsigned long done = 0;
    while (done < numFrames) {
        const unsigned long n = std::min<unsigned long>(numFrames - done, MAX_MONO_FRAMES);
        for (unsigned long i = 0; i < n; ++i)
            m_pMixingBuffer[2 * i] = m_pMixingBuffer[2 * i + 1] = in[done + i];
        if (capturedAt >= 0.0)
            m_pRecordingEngine->stampCapture(capturedAt + double(done) / ZUB_SAMPLE_RATE);
        m_pRecordingEngine->write(m_pMixingBuffer, static_cast<int64>(n));
        done += n;
    }
}
