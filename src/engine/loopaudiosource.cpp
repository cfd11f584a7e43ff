#include "engine/loopaudiosource.h"

#include "loops/loopaudio.h"

#include <algorithm>

LoopAudioSource::LoopAudioSource(std::shared_ptr<const LoopAudio> audio, int64 numFrames)
    : m_pAudio(std::move(audio))
    , m_iNumFrames(m_pAudio ? std::min(numFrames, m_pAudio->frames()) : 0)
{
}

void LoopAudioSource::process(float* buffer, int numFrames)
{
    const int64 n = std::min<int64>(numFrames, m_iNumFrames - m_iPosFrames);
    if (n <= 0)
        return;
    const float* src = m_pAudio->data() + m_iPosFrames * ZUB_FRAMESIZE;
    for (int64 i = 0; i < n * ZUB_FRAMESIZE; ++i)
        buffer[i] += src[i];
    m_iPosFrames += n;
}
