#pragma once

#include "core/zubtypes.h"
#include "synth/modalmodes.h"

class ModalModel;

// One note of the modal synth: up to 100 wavetable oscillators laid out from
// the note frequency, re-laid out on every shift interval with glides.
class ModalVoice
{
public:
    static constexpr int kCapacity = ModalModes::kCapacity;
    // The longest shift interval (2^5 beats): the voice clock wraps at it.
    static constexpr float kLongestShiftBeats = 32.0f;

    explicit ModalVoice(ModalModel* model);

    void start(float frequency);
    // One output sample; advances the voice by the model's sample period.
    float tick();
    // Replaces out[0, numFrames) with what numFrames calls of tick() return,
    // to the bit. Between mode shifts every mode runs through the whole
    // block on its own (four at a time), which keeps its state in registers;
    // the frame of a shift goes through tick().
    void renderBlock(float* out, int numFrames);

    int activeCount() const { return m_active; }
    int targetCount() const { return m_targetCount; }
    float amplitude(int i) const { return m_modes.m_amp[i]; }
    float frequency(int i) const { return m_modes.m_freq[i]; }
    float targetAmplitude(int i) const { return m_modes.m_targetAmp[i]; }
    float targetFrequency(int i) const { return m_modes.m_targetFreq[i]; }
    // Seconds since the note started, within the longest shift interval.
    float time() const { return m_time; }
    // Samples that skipped an oscillator because its phase was not a number.
    int64 invalidLookups() const { return m_modes.m_invalidLookups; }

private:
    void layoutTargets(int n);
    bool shiftDue() const;
    // Advances the clock over the frames before the next shift, at most limit.
    int framesBeforeShift(int limit);
    void renderSteady(float* out, int numFrames);
    // Modes that trimming removes within the block: until[i] frames rendered
    // for i in [return value, m_active); the modes below it stay.
    int planTrim(int numFrames, int* until) const;
    // First frame after whose glide mode i is silent for good, or numFrames.
    int silentFrame(int i, int numFrames) const;
    // Mode i over its last frames: it is not advanced in the frame that trims it.
    void renderTrimmed(int i, float* out, int numFrames);
    float render();
    void glide();
    void trim();
    void shiftModes();
    void advance();
    void advanceClock();

    int32 m_capacity = kCapacity;
    ModalModes m_modes;
    float m_gain = 0.5f;
    float m_baseFreq = 0.0f;
    int32 m_active = 0;
    int32 m_targetCount = 0;
    float m_time = 0.0f;
    ModalModel* m_pModel;
};
