#pragma once

#include "core/zubtypes.h"

class ModalModel;

// One note of the modal synth: up to 100 wavetable oscillators laid out from
// the note frequency, re-laid out on every shift interval with glides.
class ModalVoice
{
public:
    static constexpr int kCapacity = 100;
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
    float amplitude(int i) const { return m_amp[i]; }
    float frequency(int i) const { return m_freq[i]; }
    float targetAmplitude(int i) const { return m_targetAmp[i]; }
    float targetFrequency(int i) const { return m_targetFreq[i]; }
    // Seconds since the note started, within the longest shift interval.
    float time() const { return m_time; }
    // Samples that skipped an oscillator because its phase was not a number.
    int64 invalidLookups() const { return m_invalidLookups; }

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
    void renderModeGroup(int first, float* out, int numFrames);
    void renderMode(int i, float* out, int renderFrames, int advanceFrames);
    float render();
    void glide();
    void trim();
    void shiftModes();
    void advance();
    void advanceClock();

    int32 m_capacity = kCapacity;
    float m_amp[kCapacity] = {};
    float m_freq[kCapacity] = {};
    float m_phase[kCapacity] = {};
    float m_ampStep[kCapacity] = {};
    float m_freqStep[kCapacity] = {};
    float m_targetAmp[kCapacity] = {};
    float m_targetFreq[kCapacity] = {};
    float m_gain = 0.5f;
    float m_baseFreq = 0.0f;
    int32 m_active = 0;
    int32 m_targetCount = 0;
    float m_time = 0.0f;
    ModalModel* m_pModel;
    int64 m_invalidLookups = 0;
};
