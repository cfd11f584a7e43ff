#include "qt/audiodevice.h"

#include "core/playbackengine.h"
#include "core/recordingengine.h"
#include "core/zubtypes.h"

#include <QDebug>
#include <algorithm>
#include <cstring>

namespace {

int streamCallback(const void* input, void* output, unsigned long frameCount, const PaStreamCallbackTimeInfo*,
    PaStreamCallbackFlags, void* userData)
{
    // PortAudio's audio thread.
    static_cast<AudioDevice*>(userData)->processBuffer(
        frameCount, static_cast<float*>(output), static_cast<const float*>(input));
    return paContinue;
}

bool logError(PaError e)
{
    if (e == paNoError)
        return false;
    qDebug() << "PortAudio error:" << Pa_GetErrorText(e);
    return true;
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
}

AudioDevice::~AudioDevice()
{
    delete m_pOutputParams;
    delete m_pInputParams;
    delete[] m_pMixingBuffer;
}

int AudioDevice::start()
{
    if (m_pInputParams && (m_pInputParams->channelCount < 1 || m_pInputParams->channelCount > 2)) {
        qDebug() << "PortAudio error: input streams of" << m_pInputParams->channelCount << "channels are not supported";
        return 1;
    }
    if (logError(Pa_OpenStream(&m_pStream, m_pInputParams, m_pOutputParams, double(m_sampleRate),
            paFramesPerBufferUnspecified, paNoFlag, streamCallback, this))) {
        m_pStream = nullptr;
        return 1;
    }
    return logError(Pa_StartStream(m_pStream)) ? 1 : 0;
}

int AudioDevice::stop()
{
    if (!m_pStream)
        return 0;
    if (logError(Pa_StopStream(m_pStream)))
        return 1;
    const PaError e = Pa_CloseStream(m_pStream);
    m_pStream = nullptr; // the next start() opens a fresh stream
    return logError(e) ? 1 : 0;
}

double AudioDevice::outputLatency() const
{
    const PaStreamInfo* info = m_pStream ? Pa_GetStreamInfo(m_pStream) : nullptr;
    return info ? info->outputLatency : 0.0;
}

void AudioDevice::processBuffer(unsigned long numFrames, float* out, const float* in)
{
    if (in && m_pRecordingEngine && m_pInputParams) {
        if (m_pInputParams->channelCount == 1)
            recordMono(in, numFrames);
        else if (m_pInputParams->channelCount == 2)
            m_pRecordingEngine->write(in, static_cast<int64>(numFrames));
    }
    if (out && numFrames > 0) {
        std::memset(out, 0, sizeof(float) * ZUB_FRAMESIZE * numFrames);
        if (m_pPlaybackEngine)
            m_pPlaybackEngine->process(out, static_cast<int>(numFrames));
    }
}

void AudioDevice::recordMono(const float* in, unsigned long numFrames)
{
    // Callbacks larger than the conversion buffer are passed on in pieces.
    while (numFrames > 0) {
        const unsigned long n = std::min<unsigned long>(numFrames, MAX_MONO_FRAMES);
        for (unsigned long i = 0; i < n; ++i)
            m_pMixingBuffer[2 * i] = m_pMixingBuffer[2 * i + 1] = in[i];
        m_pRecordingEngine->write(m_pMixingBuffer, static_cast<int64>(n));
        in += n;
        numFrames -= n;
    }
}
