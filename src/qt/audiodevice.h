#pragma once

#include "core/nativeaudiointerface.h"

#include <portaudio.h>

class PlaybackEngine;
class RecordingEngine;

// One PortAudio stream: either the output that runs the engine's cycle, or the
// input that feeds live audio into a RecordingEngine.
class AudioDevice : public NativeAudioInterface
{
public:
    static constexpr int MIXING_BUF_SIZE = 262144; // floats
    static constexpr int MAX_MONO_FRAMES = MIXING_BUF_SIZE / 8; // bytes of one stereo frame

    AudioDevice(PlaybackEngine* playback, RecordingEngine* recording, const PaStreamParameters* output,
        const PaStreamParameters* input, int sampleRate);
    ~AudioDevice();

    int start() override;
    int stop() override;
    double outputLatency() const override;

    // Audio thread: one callback's worth of frames.
    void processBuffer(unsigned long numFrames, float* out, const float* in);

    AudioDevice(const AudioDevice&) = delete;
    AudioDevice& operator=(const AudioDevice&) = delete;

private:
    void recordMono(const float* in, unsigned long numFrames);

    PlaybackEngine* m_pPlaybackEngine;
    RecordingEngine* m_pRecordingEngine;
    PaStream* m_pStream = nullptr;
    PaStreamParameters* m_pOutputParams = nullptr;
    PaStreamParameters* m_pInputParams = nullptr;
    float* m_pMixingBuffer;
    int m_sampleRate;
};
