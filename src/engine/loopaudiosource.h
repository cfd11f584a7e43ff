#pragma once

#include "core/playbackengine.h"
#include "core/zubtypes.h"

#include <memory>
#include <vector>

class LoopAudio;

// Loops' own audio from their start, added together, whatever their mute,
// fade or play state: what the project writer puts in a loop's file (one
// loop, silence past its end) and in an idea's mixdown (its loops, each
// repeating). The audio never changes, so any thread may render it.
class LoopAudioSource : public PlaybackEngine
{
public:
    struct Part
    {
        std::shared_ptr<const LoopAudio> audio;
        int64 frames = 0; // may be shorter than the audio
    };

    LoopAudioSource(std::vector<Part> parts, bool repeat);

    void process(float* buffer, int numFrames) override;

private:
    std::vector<Part> m_parts;
    bool m_bRepeat;
    int64 m_iPosFrames = 0;
};
