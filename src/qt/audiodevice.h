#pragma once

#include "core/nativeaudiointerface.h"
#include "core/playbackengine.h"
#include "qt/jacktiming.h"

#include <QString>
#include <atomic>
#include <memory>
#include <portaudio.h>

class CaptureResampler;
class LatencyProbe;
class PlaybackResampler;
class RecordingBuffer;
class RecordingEngine;

// One PortAudio stream: either the output that runs the engine's cycle, or the
// input that feeds live audio into a RecordingEngine. The engine runs at
// 44,100 Hz; a device at another rate is converted to and from at this
// boundary. Both directions stamp their buffers with when they are heard or
// were captured, so that live input can be placed where it was played.
class AudioDevice : public NativeAudioInterface
{
public:
    static constexpr int MIXING_BUF_SIZE = 262144; // floats
    static constexpr int MAX_MONO_FRAMES = MIXING_BUF_SIZE / 8; // bytes of one stereo frame

    // A sample rate of 0 or less opens the device at its own rate.
    AudioDevice(PlaybackEngine* playback, RecordingEngine* recording, const PaStreamParameters* output,
        const PaStreamParameters* input, int sampleRate);
    ~AudioDevice();

    // A device that refuses the rate asked for is opened at its own rate.
    int start() override;
    int stop() override;
    double outputLatency() const override;

    // The rate the stream runs at; 0 until a start succeeded.
    int deviceRate() const { return m_deviceRate; }
    // "name (host API)" of the device.
    QString deviceName() const;
    // Why the last start or stop failed, naming the device; empty after success.
    QString lastError() const { return m_lastError; }
    // GUI thread: the stream was started and not stopped here, yet no longer
    // runs (its server or device went away).
    bool isLost() const;
    // Why a lost stream ended, as far as it is known.
    QString lostReason() const;
    // GUI thread: whether the server's own reason has arrived (a stream not
    // on JACK has none to wait for).
    bool knowsLostReason() const;

    // Output only: the live input this output tells when each cycle is heard.
    void setLiveInput(RecordingBuffer* input) { m_pLiveInput = input; }
    // The latency measurement this stream plays or listens for.
    void setLatencyProbe(LatencyProbe* probe) { m_pProbe = probe; }

    // Audio thread: one callback's worth of frames; `time` is PortAudio's,
    // null where there is none.
    void processBuffer(unsigned long numFrames, float* out, const float* in,
        const PaStreamCallbackTimeInfo* time = nullptr);

    AudioDevice(const AudioDevice&) = delete;
    AudioDevice& operator=(const AudioDevice&) = delete;

private:
    // Hands the engine's blocks to it through the output converter, telling
    // the live input first when each block will be heard.
    struct EngineTap : PlaybackEngine
    {
        void process(float* buffer, int numFrames) override;
        AudioDevice* device = nullptr;
    };

    int open(double rate);
    void fail(PaError e);
    // When the buffer's first frame is heard (output) or was captured
    // (input), in seconds; negative when unknown.
    double bufferTime(const PaStreamCallbackTimeInfo* time, bool output);
    void playOutput(float* out, unsigned long numFrames, double heardAt);
    // Seconds from the device buffer's first frame to the engine block
    // about to be pulled through the output converter.
    double blockOffset() const;
    void recordInput(const float* in, unsigned long numFrames, double capturedAt);
    void recordMono(const float* in, unsigned long numFrames, double capturedAt);

    PlaybackEngine* m_pPlaybackEngine;
    RecordingEngine* m_pRecordingEngine;
    PaStream* m_pStream = nullptr;
    bool m_bRunning = false;
    bool m_bJackHost = false;
    PaStreamParameters* m_pOutputParams = nullptr;
    PaStreamParameters* m_pInputParams = nullptr;
    float* m_pMixingBuffer;
    int m_sampleRate;
    int m_deviceRate = 0;
    QString m_lastError;
    EngineTap m_tap;
    std::unique_ptr<PlaybackResampler> m_pPlaybackResampler;
    std::unique_ptr<CaptureResampler> m_pCaptureResampler;
    RecordingBuffer* m_pLiveInput = nullptr;
    LatencyProbe* m_pProbe = nullptr;
    // Set while a JACK stream runs: the server's clock and this stream's ports.
    JackTiming* m_pJack = nullptr;
    std::array<jack_port_t*, JackTiming::MAX_PORTS> m_jackPorts {};
    // Written by the audio thread, read by the GUI thread: the output ports'
    // playback latency in seconds, negative until a cycle has read it.
    std::atomic<double> m_jackOutputLatency { -1.0 };
    // Audio thread: device frames of this stream so far, and when the
    // current output buffer's first frame is heard.
    int64_t m_deviceFrames = 0;
    double m_bufferHeardAt = -1.0;
};
