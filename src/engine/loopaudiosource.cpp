#include "engine/loopaudiosource.h"

#include "loops/loopaudio.h"

#include <algorithm>

LoopAudioSource::LoopAudioSource(std::vector<Part> parts, bool repeat)
    : m_bRepeat(repeat)
{
    for (Part& part : parts) {
        part.frames = part.audio ? std::clamp<int64>(part.frames, 0, part.audio->frames()) : 0;
        if (part.frames > 0)
            m_parts.push_back(std::move(part));
    }
}

void LoopAudioSource::process(float* buffer, int numFrames)
{
    for (const Part& part : m_parts) {
        const float* samples = part.audio->data();
        int64 pos = m_bRepeat ? m_iPosFrames % part.frames : m_iPosFrames;
        for (int64 done = 0; done < numFrames && pos < part.frames;) {
            const int64 n = std::min<int64>(numFrames - done, part.frames - pos);
            const float* src = samples + pos * ZUB_FRAMESIZE;
            float* dst = buffer + done * ZUB_FRAMESIZE;
            for (int64 i = 0; i < n * ZUB_FRAMESIZE; ++i)
                dst[i] += src[i];
            done += n;
            pos = m_bRepeat ? (pos + n) % part.frames : pos + n;
        }
    }
    m_iPosFrames += numFrames;
}
