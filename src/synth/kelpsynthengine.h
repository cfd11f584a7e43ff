#pragma once

#include "dsp/adsr.h"
#include "dsp/adsrsettings.h"
#include "synth/modalmodel.h"
#include "synth/modalvoice.h"
#include "synth/synthengine.h"

#include <vector>

// The modal synthesizer: 32 voices of up to 100 wavetable modes, mono out on
// both channels. Programs come from the built-in preset bank (0 "Default").
class KelpSynthEngine : public SynthEngine
{
public:
    static constexpr int kNumVoices = 32;
    static constexpr float kOutputGain = 3.1622f;
    // Frames rendered voice by voice in one go.
    static constexpr int kBlockFrames = 256;

    KelpSynthEngine();

    // Audio thread: replaces outputs[0..1]; the inputs are not read.
    void process(float** inputs, float** outputs, int numFrames) override;
    // Audio thread: adds the synth to an interleaved stereo buffer.
    void process(float* buffer, int numFrames) override;

    void startNote(int note, int velocity) override;
    void stopNote(int note) override;
    void setPitchBend(float value) override;

    static float noteFrequency(int note);
    const ModalVoice& voice(int index) const { return m_voices[index]; }
    const ModalModel& model() const { return m_model; }
    // The processor's widest by default; tests and benchmarks compare them.
    void useKernel(const ModalKernel& kernel) { m_model.m_pKernel = &kernel; }

private:
    void setUpBlock();
    // Mono into out[0, numFrames). Events are dispatched before a run of
    // frames; a queue still holding entries is served frame by frame, as it
    // would be by a dispatch before every frame.
    void render(float* out, int numFrames);
    // Frames with no event among them, each voice over all of them at once;
    // the voices are summed in voice order, so every frame comes out as
    // summing them frame by frame would give it.
    void renderFrames(float* out, int numFrames);
    // The envelope of voice i into m_envelope; returns the frames it is live.
    int advanceEnvelope(int i, int numFrames);

    float m_noteFrequencies[128];
    ModalModel m_model;
    ADSRSettings m_envelopeSettings { 0.2, 0.1, 0.7, 0.3 };
    std::vector<ModalVoice> m_voices;
    std::vector<ADSR> m_envelopes;
    float m_mix[kBlockFrames];
    float m_envelopeSum[kBlockFrames];
    float m_envelope[kBlockFrames];
    float m_voiceOut[kBlockFrames];
    float m_out[kBlockFrames];
};
