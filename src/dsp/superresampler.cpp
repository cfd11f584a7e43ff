#include "dsp/superresampler.h"

#include <algorithm>
#include <cassert>
#include <climits>
#include <cmath>

namespace {

// What is really left of a source, so that no step reads past its end.
int readable(int64 left)
{
    return static_cast<int>(std::min<int64>(left, INT_MAX));
}

// Room for the engine's 128-frame render blocks at up to 8 times the speed.
constexpr int kReservedFrames = 256;
constexpr double kReservedRate = 8.0;

} // namespace

SuperResampler::SuperResampler()
{
    reserve(kReservedFrames, kReservedRate);
}

void SuperResampler::reserve(int numFrames, double maxRate)
{
    // A factor-F pass consumes at most 2F samples per output frame, plus the
    // two that complete the count.
    const std::size_t factor = static_cast<std::size_t>(std::max(1.0, std::ceil(maxRate)));
    const std::size_t needed = 2 * factor * static_cast<std::size_t>(std::max(numFrames, 0)) + 2;
    if (m_upsampleBuffer.size() < needed)
        m_upsampleBuffer.resize(needed);
}

int SuperResampler::process(const float* pLoopBuffer, int64 loopLengthFrames, int64 playPosOffset, float* out,
                            int numFrames, int semitones, double rate)
{
    const int64 loopSamples = loopLengthFrames * ZUB_FRAMESIZE;
    const int64 p = playPosOffset - playPosOffset % ZUB_FRAMESIZE;
    const int64 avail = loopSamples - p;
    if (!pLoopBuffer || numFrames <= 0 || p < 0 || avail <= 0)
        return 0;
    const int n = static_cast<int>(std::min<int64>(avail, int64(ZUB_FRAMESIZE) * numFrames));
    const double step = std::pow(2.0f, semitones / 12.0f) * rate;
    if (step <= 1.0)
        return processDirect(pLoopBuffer + p, avail, out, n, step);
    return processUpsampled(pLoopBuffer + p, avail, loopSamples, p, out, n, step);
}

int SuperResampler::processDirect(const float* src, int64 avail, float* out, int n, double step)
{
    int64 consumed = 0;
    for (int i = 0; 2 * i < n; ++i) {
        consumed += m_outputResampler.next(&out[2 * i], &out[2 * i + 1], 0, step, src + consumed,
                                           readable(avail - consumed));
    }
    assert(consumed <= avail);
    return static_cast<int>(consumed / ZUB_FRAMESIZE);
}

int SuperResampler::processUpsampled(const float* src, int64 avail, int64 loopSamples, int64 p, float* out, int n,
                                     double step)
{
    const int factor = std::max(1, static_cast<int>(std::ceil(step)));
    const double fillStep = step / factor;

    int64 bufferSamples = 0;
    for (int i = 0; i < (n + 1) / 2; ++i)
        bufferSamples += m_countingResampler.countNext(0, factor);
    if (bufferSamples > 0)
        bufferSamples += 2;
    if (static_cast<int64>(m_upsampleBuffer.size()) < bufferSamples)
        m_upsampleBuffer.resize(bufferSamples); // only when reserve() was not told about this block

    int64 consumed = 0;
    fillUpsampleBuffer(src, avail, bufferSamples, fillStep, consumed);

    int64 q = p + consumed;
    if (q >= loopSamples)
        q = 0; // the loop wraps

    const float* buffer = m_upsampleBuffer.data();
    int64 read = 0;
    for (int i = 0; 2 * i < n; ++i) {
        read += m_outputResampler.next(&out[2 * i], &out[2 * i + 1], 0, factor, buffer + read,
                                       readable(bufferSamples - read));
    }
    return static_cast<int>((q - p) / ZUB_FRAMESIZE);
}

void SuperResampler::fillUpsampleBuffer(const float* src, int64 avail, int64 bufferSamples, double step,
                                        int64& consumed)
{
    float* buffer = m_upsampleBuffer.data();
    for (int64 j = 0; j < bufferSamples; j += 2) {
        buffer[j] = buffer[j + 1] = 0.0f;
        if (avail - consumed <= 0) {
            // Source used up: the output fades into silence at the loop's end.
            std::fill(buffer + j, buffer + bufferSamples, 0.0f);
            return;
        }
        consumed += m_fillResampler.next(&buffer[j], &buffer[j + 1], 0, step, src + consumed,
                                         readable(avail - consumed));
    }
}
