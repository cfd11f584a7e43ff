#pragma once

#include "instruments/adsr.h"
#include "instruments/adsrsettings.h"
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

private:
    void setUpBlock();
    float renderFrame();

    float m_noteFrequencies[128];
    ModalModel m_model;
    ADSRSettings m_envelopeSettings { 0.2, 0.1, 0.7, 0.3 };
    std::vector<ModalVoice> m_voices;
    std::vector<ADSR> m_envelopes;
};
