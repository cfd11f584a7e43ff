#pragma once

#include "core/playbackengine.h"

// Block compressor: the loudness of each block sets a target factor, the
// factor glides towards it during the first glide-time samples of the block,
// and the gain is the factor's inverse square root. Audio thread only.
class GhettoComp : public PlaybackEngine
{
public:
    explicit GhettoComp(float glideMs);

    void process(float* buffer, int numFrames) override;

    float compFactor() const { return m_fCompFactor; }
    // Silence leaves such a compressor where it is: its gain stays 1.
    bool atUnity() const;

private:
    // Nearer its target than this, the factor stays put.
    static constexpr float STEADY = 0.005f;

    float m_fCompFactor = 1.0f; // never 0: the target is at least 1
    float m_fGlideMs;
};
