#include "loops/sparebuffer.h"

#include "core/alignedfloats.h"

#include <algorithm>
#include <utility>

namespace {

float* zeroedBuffer(int64 numSamples, float* reuse, int64 reuseSamples)
{
    if (reuse && reuseSamples != numSamples) {
        freeAlignedFloats(reuse);
        reuse = nullptr;
    }
    float* buffer = reuse ? reuse : allocateAlignedFloats(std::size_t(numSamples));
    // Writing every page now keeps page faults off the audio thread later.
    if (buffer)
        std::fill(buffer, buffer + numSamples, 0.0f);
    return buffer;
}

} // namespace

SpareBuffer::~SpareBuffer()
{
    settle();
    freeAlignedFloats(m_pReady);
}

void SpareBuffer::settle()
{
    if (m_thread.joinable())
        m_thread.join();
}

void SpareBuffer::prepare(int64 numSamples, float* reuse, int64 reuseSamples)
{
    if (!reuse && m_iWantedSamples == numSamples)
        return; // made or being made already
    m_iWantedSamples = numSamples;
    settle();
    {
        std::lock_guard lock(m_mutex);
        freeAlignedFloats(m_pReady);
        m_pReady = nullptr;
        m_iReadySamples = 0;
    }
    m_thread = std::thread([this, numSamples, reuse, reuseSamples] {
        float* made = zeroedBuffer(numSamples, reuse, reuseSamples);
        std::lock_guard lock(m_mutex);
        m_pReady = made;
        m_iReadySamples = made ? numSamples : 0;
    });
}

float* SpareBuffer::take(int64 numSamples)
{
    m_iWantedSamples = 0;
    settle();
    float* ready;
    int64 readySamples;
    {
        std::lock_guard lock(m_mutex);
        ready = std::exchange(m_pReady, nullptr);
        readySamples = std::exchange(m_iReadySamples, 0);
    }
    if (ready && readySamples == numSamples)
        return ready;
    return zeroedBuffer(numSamples, ready, readySamples);
}
