#pragma once

#include <cstdint>

// Audio conventions shared by every engine component: interleaved stereo
// 32-bit float at 44,100 frames per second.
constexpr int ZUB_FRAMESIZE = 2;
constexpr int ZUB_SAMPLE_RATE = 44100;
constexpr double ZUB_MICROSECONDS_PER_FRAME = 1000000.0 / 44100.0;

constexpr float ZUB_MIN_BPM = 30.0f;
constexpr float ZUB_MAX_BPM = 200.0f;

using int64 = std::int64_t;
using int32 = std::int32_t;

// Microseconds from a loop's start to one of its frames, rounded down: the
// one conversion note times and loop lengths in microseconds are made with.
constexpr int64 framesToMicroseconds(int64 frames)
{
    return frames * 1000000 / ZUB_SAMPLE_RATE;
}
