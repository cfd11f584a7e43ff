#include "synth/kelpsynthengine.h"

#include "synth/kelpparameter.h"
#include "synth/kelppresetbank.h"

#include <algorithm>
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
    render(outputs[0], numFrames);
    if (outputs[1] != outputs[0])
        std::copy(outputs[0], outputs[0] + numFrames, outputs[1]);
}

void KelpSynthEngine::process(float* buffer, int numFrames)
{
    setUpBlock();
    for (int frame = 0; frame < numFrames; frame += kBlockFrames) {
        const int n = std::min(kBlockFrames, numFrames - frame);
        render(m_out, n);
        for (int i = 0; i < n; ++i) {
            buffer[ZUB_FRAMESIZE * (frame + i)] += m_out[i];
            buffer[ZUB_FRAMESIZE * (frame + i) + 1] += m_out[i];
        }
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

void KelpSynthEngine::render(float* out, int numFrames)
{
    int frame = 0;
    while (frame < numFrames) {
        dispatchEvents();
        const int n = hasPendingEvents() ? 1 : std::min(kBlockFrames, numFrames - frame);
        renderFrames(out + frame, n);
        frame += n;
    }
}

void KelpSynthEngine::renderFrames(float* out, int numFrames)
{
    std::fill_n(m_mix, numFrames, 0.0f);
    std::fill_n(m_envelopeSum, numFrames, 0.0f);
    for (int i = 0; i < m_numVoices; ++i) {
        if (m_voiceNotes[i] == -1)
            continue;
        const int live = advanceEnvelope(i, numFrames);
        m_voices[i].renderBlock(m_voiceOut, live);
        for (int s = 0; s < live; ++s) {
            m_mix[s] += m_voiceOut[s] * m_envelope[s];
            m_envelopeSum[s] += m_envelope[s];
        }
    }
    for (int s = 0; s < numFrames; ++s) {
        const float g = m_envelopeSum[s] <= 3.0f ? 0.33333334f : 1.0f / m_envelopeSum[s];
        out[s] = g * m_mix[s] * kOutputGain;
    }
}

int KelpSynthEngine::advanceEnvelope(int i, int numFrames)
{
    for (int s = 0; s < numFrames; ++s) {
        if (!m_envelopes[i].isActive()) {
            m_voiceNotes[i] = -1;
            return s;
        }
        m_envelope[s] = m_envelopes[i].advance(m_model.m_dt);
    }
    return numFrames;
}
