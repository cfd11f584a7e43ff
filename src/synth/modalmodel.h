#pragma once

#include "synth/modalkernel.h"
#include "synth/synthprogram.h"

// The sound shared by all modal voices: one wavetable and the layout, shift
// and drop values derived from the current program once per block.
class ModalModel
{
public:
    static constexpr int kTableSize = 1024;
    static constexpr int kSine = 0;
    static constexpr int kSquare = 1;
    static constexpr int kSaw = 2;
    static constexpr int kPoly = 3;
    static constexpr int kSonOfPoly = 4;

    ModalModel();

    // Halves round away from zero.
    static int nearest(float x);
    // 1 + s x 10^(|v| - 10), in single precision.
    static float dropFactorFor(float freqDrop);

    // Audio thread, block setup: derive the model values and rebuild the
    // wavetable when the wave or the crush changed.
    void applyProgram(const SynthProgram& program);
    void buildWavetable();

    alignas(16) float m_table[kTableSize];
    int m_wave = kSine;
    int m_crush = 0;
    float m_dt = 1.0f / 44100.0f;
    float m_tempo = 120.0f;
    float m_bend = 1.0f;

    int m_modeShift = 0;
    float m_shiftBeats = 0.5f;
    int m_minModes = 3;
    int m_maxModes = 20;
    float m_falloff = -1.0f;
    float m_parity = 0.0f;
    float m_jitter = 0.0f;
    float m_dropFactor = 1.0f;
    float m_chop = 1.0f;
    int m_primeModes = 0;
    float m_detune = 0.5f;
    float m_power = 0.5f;
    int m_dropMod = 1;
    float m_blendTime = 0.01f;
    float m_exitPeel = 0.0f;
    int m_initModes = 10;
    int m_reserved = 0;

    // How the voices render their modes: the widest the processor runs.
    const ModalKernel* m_pKernel = &ModalKernel::fastest();

private:
    bool fillWave(int wave);
    void crush(int bits);
};
