#pragma once

#include "core/playbackengine.h"
#include "core/zubtypes.h"

#include <memory>

class LoopAudio;

// A loop's own audio from its start, whatever its mute, fade or play state:
// what the project writer puts in the loop's file. Silence past the end.
// The audio never changes, so any thread may render it.
class LoopAudioSource : public PlaybackEngine
{
public:
    LoopAudioSource(std::shared_ptr<const LoopAudio> audio, int64 numFrames);

    void process(float* buffer, int numFrames) override;

private:
    std::shared_ptr<const LoopAudio> m_pAudio;
    int64 m_iNumFrames;
    int64 m_iPosFrames = 0;
};
