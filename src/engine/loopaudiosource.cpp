#include "engine/loopaudiosource.h"

#include "loops/loop.h"

#include <algorithm>

LoopAudioSource::LoopAudioSource(std::shared_ptr<Loop> loop)
    : m_pLoop(std::move(loop))
{
}

void LoopAudioSource::process(float* buffer, int numFrames)
{
    // The GUI thread is the only user of the loop while the stream is stopped.
    const float* data = m_pLoop->data();
    const int64 n = std::min<int64>(numFrames, m_pLoop->numFrames() - m_iPosFrames);
    if (!data || n <= 0)
        return;
    const float* src = data + m_iPosFrames * ZUB_FRAMESIZE;
    for (int64 i = 0; i < n * ZUB_FRAMESIZE; ++i)
        buffer[i] += src[i];
    m_iPosFrames += n;
}
