#pragma once

#include "core/playbackengine.h"
#include "core/zubtypes.h"

#include <memory>

class Loop;

// A loop's own audio from its start, whatever its mute, fade or play state:
// what the project writer puts in the loop's file. Silence past the end.
class LoopAudioSource : public PlaybackEngine
{
public:
    explicit LoopAudioSource(std::shared_ptr<Loop> loop);

    void process(float* buffer, int numFrames) override;

private:
    std::shared_ptr<Loop> m_pLoop;
    int64 m_iPosFrames = 0;
};
