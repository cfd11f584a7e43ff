#include "synth/modalmodel.h"

#include "core/log.h"
#include "synth/kelpparameter.h"

#include <cmath>
#include <cstdio>
#include <numbers>

ModalModel::ModalModel()
{
    buildWavetable();
}

int ModalModel::nearest(float x)
{
    return x >= 0.0f ? static_cast<int>(x + 0.5f) : static_cast<int>(x - 0.5f);
}

float ModalModel::dropFactorFor(float freqDrop)
{
    const float sign = freqDrop < 0.0f ? -1.0f : 1.0f;
    return 1.0f + sign * std::pow(10.0f, std::fabs(freqDrop) - 10.0f);
}

void ModalModel::applyProgram(const SynthProgram& program)
{
    m_modeShift = nearest(program.value(KELP_MODE_SHIFT));
    m_shiftBeats = std::exp2(program.value(KELP_SHIFT_INTERVAL));
    m_minModes = nearest(program.value(KELP_MIN_MODES));
    m_maxModes = nearest(program.value(KELP_MAX_MODES));
    m_falloff = program.value(KELP_FALLOFF);
    m_parity = program.value(KELP_PARITY);
    m_jitter = program.value(KELP_JITTER);
    m_dropFactor = dropFactorFor(program.value(KELP_FREQ_DROP));
    m_chop = program.value(KELP_CHOP);
    m_primeModes = nearest(program.value(KELP_MODES));
    m_detune = program.value(KELP_DETUNE);
    m_power = program.value(KELP_POWER);
    m_dropMod = nearest(program.value(KELP_DROP_MOD));
    m_blendTime = program.value(KELP_BLEND_TIME);
    m_exitPeel = program.value(KELP_EXIT_PEEL);
    m_initModes = static_cast<int>(program.value(KELP_MODE_INIT));
    m_reserved = static_cast<int>(program.value(KELP_RESERVED));

    const int wave = nearest(program.value(KELP_WAVE));
    const int crushBits = nearest(program.value(KELP_CRUSH));
    if (wave != m_wave || crushBits != m_crush) {
        m_wave = wave;
        m_crush = crushBits;
        buildWavetable();
    }
}

void ModalModel::buildWavetable()
{
    if (!fillWave(m_wave))
        logInfo() << "Unsupported waveform type requested...";
    if (m_crush > 0)
        crush(m_crush);
}

bool ModalModel::fillWave(int wave)
{
    const double step = 2.0 * std::numbers::pi / kTableSize;
    for (int k = 0; k < kTableSize; ++k) {
        const double x = step * k;
        switch (wave) {
        case kSine:
            m_table[k] = static_cast<float>(std::sin(x));
            break;
        case kSquare:
            m_table[k] = k < kTableSize / 2 ? -1.0f : 1.0f;
            break;
        case kSaw:
            m_table[k] = 2.0f * k / kTableSize - 1.0f;
            break;
        case kPoly:
            m_table[k] = static_cast<float>(0.7 * std::sin(x) + 0.3 * std::sin(3.0 * x + 0.5));
            break;
        case kSonOfPoly:
            m_table[k] = static_cast<float>(0.9 * std::sin(x) + 0.1 * std::sin(10.0 * x + 0.5));
            break;
        default:
            return false;
        }
    }
    return true;
}

void ModalModel::crush(int bits)
{
    const float levels = std::exp2(static_cast<float>(bits - 1));
    for (float& t : m_table)
        t = static_cast<float>(nearest(levels * (t + 1.0f) / 2.0f)) / levels * 2.0f - 1.0f;
}
