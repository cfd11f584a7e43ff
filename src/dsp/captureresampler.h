#pragma once

#include "core/zubtypes.h"

#include <vector>

struct SRC_STATE_tag;

// Brings live input from a device rate to the engine's 44,100 Hz: a
// streaming sinc converter turns mono or stereo device frames into stereo
// engine frames. Engine frame e stands for device frame e / ratio() exactly;
// the converter holds the newest frames back until it can use them, which is
// the latency it adds. Allocated at construction; converting neither
// allocates nor locks, whatever the size of the buffer.
class CaptureResampler
{
public:
    // The most engine frames handed on at once.
    static constexpr int CHUNK_FRAMES = 2048;

    CaptureResampler(int channels, int deviceRate);
    ~CaptureResampler();

    bool isValid() const { return m_pState != nullptr; }
    // Engine rate / device rate.
    double ratio() const { return m_ratio; }
    int64 engineFrames() const { return m_engineFrames; }

    // Audio thread: converts `frames` device frames of `channels` channels
    // and hands each stereo chunk to sink(const float* frames, int64 count).
    template <class Sink>
    void convert(const float* in, int64 frames, Sink&& sink)
    {
        while (frames > 0 && m_pState) {
            int64 used = 0;
            const int64 made = convertChunk(in, frames, used);
            if (made > 0)
                sink(m_stereo.data(), made);
            if (used == 0 && made == 0)
                break;
            in += used * m_channels;
            frames -= used;
        }
    }

    CaptureResampler(const CaptureResampler&) = delete;
    CaptureResampler& operator=(const CaptureResampler&) = delete;

private:
    // Converts what fits into one chunk; `used` tells the device frames taken.
    int64 convertChunk(const float* in, int64 frames, int64& used);

    int m_channels;
    SRC_STATE_tag* m_pState = nullptr;
    double m_ratio;
    std::vector<float> m_out; // mono only
    std::vector<float> m_stereo;
    int64 m_engineFrames = 0;
};
