#include "loops/loopaudio.h"

#include "core/alignedfloats.h"
#include "core/log.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

constexpr int kWaveformBlocks = 512;
constexpr int kWaveformSampleSpacing = 512; // frames between the frames a block averages

std::string waveformOf(const float* samples, int64 n)
{
    std::string waveform;
    if (n == 0 || !samples)
        return waveform;
    // Audio shorter than one frame per block gets one block per frame.
    const int64 step = std::max<int64>(1, n / kWaveformBlocks);
    for (int64 s = 0; s < n; s += step) {
        const int64 end = std::min(s + step, n);
        double sum = 0.0;
        int count = 0;
        for (int64 f = s; f < end; f += kWaveformSampleSpacing, ++count) {
            const float l = samples[2 * f], r = samples[2 * f + 1];
            sum += std::sqrt(l * l + r * r);
        }
        // Louder than full scale (overdubs, loaded files) is held at 99 so
        // every number keeps its two digits and the string stays readable.
        const double value = std::min(sum / count * 64.0, 99.0);
        if (value < 10.0)
            waveform += '0';
        waveform += std::to_string(static_cast<long long>(value));
    }
    return waveform;
}

} // namespace

LoopAudio::LoopAudio(float* samples, int64 frames)
    : m_pSamples(samples)
    , m_iFrames(frames)
    , m_waveform(waveformOf(samples, frames))
{
}

LoopAudio::~LoopAudio()
{
    freeAlignedFloats(m_pSamples);
}

std::shared_ptr<const LoopAudio> LoopAudio::adopt(float* samples, int64 frames)
{
    return std::shared_ptr<const LoopAudio>(new LoopAudio(samples, samples ? frames : 0));
}

std::shared_ptr<const LoopAudio> LoopAudio::copyOf(const float* src, int64 srcFrames, int64 frames)
{
    frames = std::max<int64>(frames, 0);
    float* samples = allocateAlignedFloats(std::size_t(frames) * ZUB_FRAMESIZE);
    if (!samples) {
        logInfo() << "No memory for a loop of " << frames << " frames";
        return nullptr;
    }
    const int64 copied = src ? std::clamp<int64>(srcFrames, 0, frames) : 0;
    if (copied > 0)
        std::memcpy(samples, src, sizeof(float) * ZUB_FRAMESIZE * copied);
    std::fill(samples + ZUB_FRAMESIZE * copied, samples + ZUB_FRAMESIZE * frames, 0.0f);
    return adopt(samples, frames);
}
