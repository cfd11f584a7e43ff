#pragma once

#include "core/zubtypes.h"

#include <mutex>
#include <thread>

// A zeroed float buffer made ahead on a thread of its own, so that the loop
// recorder can trade its buffer for a fresh one in the time of a pointer
// swap. Not for the audio thread.
class SpareBuffer
{
public:
    SpareBuffer() = default;
    ~SpareBuffer();

    SpareBuffer(const SpareBuffer&) = delete;
    SpareBuffer& operator=(const SpareBuffer&) = delete;

    // Starts making a zeroed buffer of numSamples floats (freed with
    // freeAlignedFloats), unless one of that size is made already. A buffer
    // handed in for reuse is zeroed instead of making a new one when it has
    // that size, and freed otherwise.
    void prepare(int64 numSamples, float* reuse = nullptr, int64 reuseSamples = 0);
    // A zeroed buffer of numSamples floats, now the caller's: the one made
    // ahead when it has that size (waiting for it if need be), else one made
    // now. Null when the memory cannot be had.
    float* take(int64 numSamples);
    // Waits until the buffer being made, if any, is ready: afterwards no
    // buffer is held by the making thread alone.
    void settle();

private:
    std::thread m_thread;
    std::mutex m_mutex;
    float* m_pReady = nullptr;
    int64 m_iReadySamples = 0;
    // The size asked for by the last prepare, until it is taken.
    int64 m_iWantedSamples = 0;
};
