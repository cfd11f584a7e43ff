#include "dsp/loopretimer.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

namespace {

double sinc(double x)
{
    return x == 0.0 ? 1.0 : std::sin(std::numbers::pi * x) / (std::numbers::pi * x);
}

// Blackman window over -1..1.
double window(double x)
{
    if (std::fabs(x) >= 1.0)
        return 0.0;
    return 0.42 + 0.5 * std::cos(std::numbers::pi * x) + 0.08 * std::cos(2.0 * std::numbers::pi * x);
}

} // namespace

// cutoff: the pass band as a fraction of the source's Nyquist frequency. A
// lower cutoff needs a proportionally wider kernel for the same steepness.
void LoopRetimer::makeTable(double cutoff)
{
    m_halfTaps = int(std::ceil(HALF_WIDTH / cutoff));
    const int taps = 2 * m_halfTaps;
    m_table.assign(std::size_t(PHASES + 1) * taps, 0.0f);
    for (int p = 0; p <= PHASES; ++p) {
        const double frac = double(p) / PHASES;
        float* row = m_table.data() + std::size_t(p) * taps;
        double sum = 0.0;
        for (int k = 0; k < taps; ++k) {
            const double t = double(k - m_halfTaps + 1) - frac;
            const double h = cutoff * sinc(cutoff * t) * window(t / m_halfTaps);
            row[k] = float(h);
            sum += h;
        }
        // Unity gain at DC for every phase.
        for (int k = 0; k < taps; ++k)
            row[k] = float(row[k] / sum);
    }
}

void LoopRetimer::retime(const float* src, int64 srcFrames, float* dst, int64 dstFrames)
{
    if (dstFrames <= 0)
        return;
    if (srcFrames <= 0) {
        std::fill(dst, dst + ZUB_FRAMESIZE * dstFrames, 0.0f);
        return;
    }
    if (srcFrames == dstFrames) {
        std::memcpy(dst, src, sizeof(float) * ZUB_FRAMESIZE * dstFrames);
        return;
    }
    // Sped up, the pass band ends a little below the new Nyquist frequency,
    // so the kernel's slope is over before what would fold back.
    const double speed = double(srcFrames) / double(dstFrames);
    makeTable(speed > 1.0 ? 0.95 / speed : 1.0);
    const int taps = 2 * m_halfTaps;
    for (int64 j = 0; j < dstFrames; ++j) {
        // Source position j x S / D as a whole frame and a phase.
        const int64 num = j * srcFrames;
        const int64 whole = num / dstFrames;
        const int64 phase = ((num % dstFrames) * PHASES + dstFrames / 2) / dstFrames;
        const float* row = m_table.data() + std::size_t(phase) * taps;
        const int64 first = whole - m_halfTaps + 1;
        float left = 0.0f, right = 0.0f;
        if (first >= 0 && first + taps <= srcFrames) {
            const float* s = src + ZUB_FRAMESIZE * first;
            for (int k = 0; k < taps; ++k) {
                left += row[k] * s[2 * k];
                right += row[k] * s[2 * k + 1];
            }
        } else {
            // Across the seam: the loop goes on at its start.
            for (int k = 0; k < taps; ++k) {
                int64 i = (first + k) % srcFrames;
                if (i < 0)
                    i += srcFrames;
                left += row[k] * src[2 * i];
                right += row[k] * src[2 * i + 1];
            }
        }
        dst[2 * j] = left;
        dst[2 * j + 1] = right;
    }
}
