#include "qt/latencyprobe.h"

#include <algorithm>
#include <cmath>

namespace {
// A short square pulse: its first frame is its onset, whatever the level.
constexpr long kClickFrames = 8;
}

void LatencyProbe::arm()
{
    m_state.store(Armed, std::memory_order_release);
}

void LatencyProbe::disarm()
{
    m_state.store(Idle, std::memory_order_release);
}

void LatencyProbe::play(float* out, long frames, double heardAt)
{
    if (m_state.load(std::memory_order_acquire) != Armed || heardAt < 0.0)
        return;
    for (long i = 0; i < std::min(frames, kClickFrames); ++i)
        out[2 * i] = out[2 * i + 1] = CLICK_LEVEL;
    m_playedAt.store(heardAt, std::memory_order_relaxed);
    m_state.store(Played, std::memory_order_release);
}

void LatencyProbe::listen(const float* in, long frames, int channels, double capturedAt, double rate)
{
    const int state = m_state.load(std::memory_order_acquire);
    if (state == Armed) {
        for (long i = 0; i < frames * channels; ++i)
            m_noise = std::max(m_noise, std::fabs(in[i]));
        return;
    }
    if (state != Played || capturedAt < 0.0)
        return;
    const float heard = std::max(HEARD_LEVEL, 4.0f * m_noise);
    for (long i = 0; i < frames * channels; ++i) {
        if (std::fabs(in[i]) > heard) {
            m_heardAt.store(capturedAt + double(i / channels) / rate, std::memory_order_relaxed);
            m_noise = 0.0f;
            m_state.store(Heard, std::memory_order_release);
            return;
        }
    }
}

bool LatencyProbe::result(double& seconds) const
{
    if (m_state.load(std::memory_order_acquire) != Heard)
        return false;
    seconds = m_heardAt.load(std::memory_order_relaxed) - m_playedAt.load(std::memory_order_relaxed);
    return true;
}
