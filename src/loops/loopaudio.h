#pragma once

#include "core/zubtypes.h"

#include <memory>
#include <string>

// Stereo audio that never changes once made. A loop swaps its audio for a
// new one instead of writing into it, so the undo history and a save in
// progress share a loop's audio rather than copying it, and no thread ever
// copies audio while holding a lock the audio thread takes.
class LoopAudio
{
public:
    ~LoopAudio();
    LoopAudio(const LoopAudio&) = delete;
    LoopAudio& operator=(const LoopAudio&) = delete;

    // Takes a buffer made with allocateAlignedFloats, 2 x frames floats long.
    static std::shared_ptr<const LoopAudio> adopt(float* samples, int64 frames);
    // The frames of src, then silence up to `frames`. Null (with a log line)
    // when the memory cannot be had.
    static std::shared_ptr<const LoopAudio> copyOf(const float* src, int64 srcFrames, int64 frames);
    static std::shared_ptr<const LoopAudio> copyOf(const float* src, int64 frames)
    {
        return copyOf(src, frames, frames);
    }

    const float* data() const { return m_pSamples; }
    int64 frames() const { return m_iFrames; }
    // One two-digit number per block, for a small drawing of the audio.
    const std::string& waveform() const { return m_waveform; }

private:
    LoopAudio(float* samples, int64 frames);

    float* m_pSamples;
    int64 m_iFrames;
    std::string m_waveform;
};
