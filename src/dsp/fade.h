#pragma once

#include "core/zubtypes.h"

// A linear gain ramp. Loops step it once per sample (mute and unmute); ideas
// apply it to a block (loops being removed). Driven by the audio thread;
// started from the GUI thread under the lock of the loop or idea owning it.
class Fade
{
public:
    virtual ~Fade() = default;

    // Fade out to 0 or in to 1 from the gain it has now, at 1/4410 a step
    // (4410 steps for a whole fade), so a fade that turns back midway never
    // jumps and always ends where it was last sent. At the target already:
    // nothing changes.
    void startFade(bool fadeOut);
    // 1 -> 0 over ms x 44.1 steps.
    void fadeOut(float ms);
    // The gain at once; a running ramp ends there.
    void setValue(float gain);

    float value() const { return m_value; }
    bool isSteady() const { return m_state == kSteady; }

    // *dst += gain x *src, then one step of a running ramp. Once per sample.
    void mixSample(float* dst, const float* src);
    // mixSample over count samples; a steady gain runs as one plain loop.
    void mix(float* dst, const float* src, int64 count);
    // Applies a running ramp to an interleaved stereo block, one step per frame.
    void process(float* buffer, int numFrames);

private:
    enum State : int32 { kFadingIn = 0, kFadingOut = 1, kSteady = 3 };

    void start(State state, float from, float to, float step);
    bool reachedTarget() const;

    int32 m_state = kSteady;
    float m_value = 1.0f;
    float m_target = 1.0f;
    float m_step = 0.0f;
};
