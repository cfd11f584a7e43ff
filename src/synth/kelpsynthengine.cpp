#include "synth/kelpsynthengine.h"

#include "synth/kelppresetbank.h"
#include "synth/kelpparameter.h"

#include <cmath>

KelpSynthEngine::KelpSynthEngine()
    : SynthEngine(kNumVoices, 0, 2, "KelpSynth", "Quavertone", "KelpSynth", 1)
{
    for (const SynthProgram& program : KelpPresetBank::build())
        addProgram(program);
    setProgram(0);
    for (int n = 0; n < 128; ++n)
        m_noteFrequencies[n] = noteFrequency(n);
    m_model.m_tempo = m_tempo;
    m_voices.reserve(kNumVoices);
    m_envelopes.reserve(kNumVoices);
    for (int i = 0; i < kNumVoices; ++i) {
        m_voices.emplace_back(&m_model);
        m_envelopes.emplace_back(&m_envelopeSettings);
        m_voiceNotes[i] = -1;
    }
}

float KelpSynthEngine::noteFrequency(int note)
{
    return static_cast<float>(8.175798915636872 * std::pow(1.059463094359, note));
}

void KelpSynthEngine::process(float** inputs, float** outputs, int numFrames)
{
    setUpBlock();
    for (int frame = 0; frame < numFrames; ++frame) {
        const float out = renderFrame();
        outputs[0][frame] = out;
        outputs[1][frame] = out;
    }
}

void KelpSynthEngine::process(float* buffer, int numFrames)
{
    setUpBlock();
    for (int frame = 0; frame < numFrames; ++frame) {
        const float out = renderFrame();
        buffer[ZUB_FRAMESIZE * frame] += out;
        buffer[ZUB_FRAMESIZE * frame + 1] += out;
    }
}

void KelpSynthEngine::startNote(int note, int velocity)
{
    for (int i = m_numVoices - 1; i >= 0; --i) {
        if (m_voiceNotes[i] != -1)
            continue;
        m_voiceNotes[i] = note;
        m_voices[i].start(m_noteFrequencies[note & 127]);
        m_envelopes[i].noteOn(static_cast<float>(velocity) / 127.0f);
        return;
    }
    // Every voice busy: the note is dropped.
}

void KelpSynthEngine::stopNote(int note)
{
    for (int i = 0; i < m_numVoices; ++i) {
        if (m_voiceNotes[i] != note)
            continue;
        m_envelopes[i].noteOff();
        m_voiceNotes[i] = -2;
    }
}

void KelpSynthEngine::setPitchBend(float value)
{
    m_model.m_bend = std::exp2(value);
}

void KelpSynthEngine::setUpBlock()
{
    const SynthProgram& program = *currentProgram();
    m_model.applyProgram(program);
    m_envelopeSettings.attack = program.value(KELP_ATTACK);
    m_envelopeSettings.decay = program.value(KELP_DECAY);
    m_envelopeSettings.sustain = program.value(KELP_SUSTAIN);
    m_envelopeSettings.release = program.value(KELP_RELEASE);
}

float KelpSynthEngine::renderFrame()
{
    dispatchEvents();
    float mix = 0.0f;
    float envelopeSum = 0.0f;
    for (int i = 0; i < m_numVoices; ++i) {
        if (m_voiceNotes[i] == -1)
            continue;
        if (!m_envelopes[i].isActive()) {
            m_voiceNotes[i] = -1;
            continue;
        }
        const float e = m_envelopes[i].advance(m_model.m_dt);
        mix += m_voices[i].tick() * e;
        envelopeSum += e;
    }
    const float g = envelopeSum <= 3.0f ? 0.33333334f : 1.0f / envelopeSum;
    return g * mix * kOutputGain;
}
