#include "synth/modalvoice.h"

#include "synth/modalmodel.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace {
constexpr float kTwoPi = 2.0f * std::numbers::pi_v<float>;
constexpr float kPrimes[] = { 2.0f, 3.0f, 5.0f, 7.0f, 11.0f };

// Moves value by step toward target; lands on the target once it is reached
// or crossed and stops the glide.
void glideToward(float& value, float& step, float target)
{
    if (value == target)
        return;
    value += step;
    if ((step > 0.0f && value >= target) || (step < 0.0f && value <= target)) {
        value = target;
        step = 0.0f;
    }
}
} // namespace

ModalVoice::ModalVoice(ModalModel* model)
    : m_pModel(model)
{
}

void ModalVoice::start(float frequency)
{
    m_time = 0.0f;
    m_baseFreq = frequency;
    const int n = std::min(m_pModel->m_initModes, static_cast<int>(m_capacity));
    m_active = n;
    m_targetCount = n;
    layoutTargets(n);
    std::fill(std::begin(m_phase), std::end(m_phase), 0.0f);
    std::fill(std::begin(m_amp), std::end(m_amp), 0.0f);
    std::fill(std::begin(m_freq), std::end(m_freq), 0.0f);
    std::copy(m_targetAmp, m_targetAmp + n, m_amp);
    std::copy(m_targetFreq, m_targetFreq + n, m_freq);
}

float ModalVoice::tick()
{
    const float sample = render();
    glide();
    trim();
    shiftModes();
    advance();
    advanceClock();
    return sample;
}

void ModalVoice::advanceClock()
{
    m_time += m_pModel->m_dt;
    // Shifts depend only on the time within the longest shift interval; a
    // single-precision clock that kept counting would stop advancing after
    // about eight minutes of a held note (a sample is then below its step).
    const float wrap = kLongestShiftBeats / (m_pModel->m_tempo / 60.0f);
    if (m_time >= wrap)
        m_time -= wrap;
}

void ModalVoice::layoutTargets(int n)
{
    const ModalModel& model = *m_pModel;
    const int m = std::min(model.m_primeModes, n);
    for (int i = 0; i < m; ++i) {
        m_targetFreq[i] = m_baseFreq / std::pow(kPrimes[i], model.m_detune);
        m_targetAmp[i] = model.m_power;
    }
    for (int j = m; j < n; ++j) {
        const int h = j - m + 1;
        m_targetFreq[j] = h * m_baseFreq;
        m_targetAmp[j] = std::pow(static_cast<float>(h), model.m_falloff);
        if (h % 2 == 0) {
            m_targetAmp[j] *= std::min(1.0f, 1.0f - model.m_parity);
            m_targetFreq[j] += model.m_jitter;
        } else {
            m_targetAmp[j] *= std::min(1.0f, 1.0f + model.m_parity);
            if (h > 1)
                m_targetFreq[j] -= model.m_jitter;
        }
    }
    float sum = 0.0f;
    for (int i = 0; i < n; ++i)
        sum += m_targetAmp[i];
    if (sum > 0.0f) {
        for (int i = 0; i < n; ++i)
            m_targetAmp[i] /= sum;
    }
}

float ModalVoice::render()
{
    const float* table = m_pModel->m_table;
    // A chop below 1 plays only the first part of the table in every cycle.
    const int c = static_cast<int>(m_pModel->m_chop * ModalModel::kTableSize);
    const float k = c / kTwoPi;
    const int active = m_active;
    float sum = 0.0f;
    for (int i = 0; i < active; ++i) {
        const float position = k * m_phase[i];
        // A run-away frequency leaves a phase that is no number; skip it
        // quietly rather than print from the audio thread.
        if (!(std::fabs(position) <= 2.0f * c)) {
            ++m_invalidLookups;
            continue;
        }
        int idx = static_cast<int>(position);
        if (idx < 0)
            idx += c;
        if (idx == c)
            idx = 0;
        if (idx >= 0 && idx < c)
            sum += m_amp[i] * table[idx];
        else
            ++m_invalidLookups;
    }
    return sum * m_gain;
}

void ModalVoice::glide()
{
    const int active = m_active;
    for (int i = 0; i < active; ++i) {
        glideToward(m_amp[i], m_ampStep[i], m_targetAmp[i]);
        glideToward(m_freq[i], m_freqStep[i], m_targetFreq[i]);
    }
}

void ModalVoice::trim()
{
    while (m_active > 0 && m_amp[m_active - 1] == 0.0f && m_targetAmp[m_active - 1] == 0.0f)
        --m_active;
}

void ModalVoice::shiftModes()
{
    const ModalModel& model = *m_pModel;
    const float interval = model.m_shiftBeats / (model.m_tempo / 60.0f);
    const float r = std::fmod(m_time, interval);
    if (!(interval < r + model.m_dt))
        return;

    int last = std::max(m_targetCount + model.m_modeShift, model.m_minModes);
    last = std::min(last, model.m_maxModes);
    layoutTargets(last);
    if (m_active < last) {
        // New modes enter from a peeled frequency at the amplitude they had.
        for (int i = m_active; i < last; ++i)
            m_freq[i] = (1.0f - model.m_exitPeel) * m_targetFreq[i];
        m_active = last;
        m_targetCount = last;
    } else {
        // Leaving modes fade out while peeling away in pitch.
        for (int j = last; j < m_targetCount; ++j) {
            m_targetAmp[j] = 0.0f;
            m_targetFreq[j] = (1.0f + model.m_exitPeel) * m_freq[j];
        }
    }
    const float steps = model.m_blendTime / model.m_dt;
    for (int i = 0; i < m_targetCount; ++i) {
        m_ampStep[i] = (m_targetAmp[i] - m_amp[i]) / steps;
        m_freqStep[i] = (m_targetFreq[i] - m_freq[i]) / steps;
    }
    m_targetCount = last;
}

void ModalVoice::advance()
{
    // Model values in locals: the stores below could otherwise alias them.
    const float inc = m_pModel->m_dt * kTwoPi * m_pModel->m_bend;
    const float dropFactor = m_pModel->m_dropFactor;
    const int dropMod = m_pModel->m_dropMod;
    const int active = m_active;
    for (int i = 0; i < active; ++i) {
        float phase = m_phase[i] + m_freq[i] * inc;
        if (!(phase > -kTwoPi && phase < 2.0f * kTwoPi))
            phase = std::fmod(phase, kTwoPi);
        else if (phase < 0.0f)
            phase += kTwoPi;
        else if (phase > kTwoPi)
            phase -= kTwoPi;
        m_phase[i] = phase;
        if (dropMod < 2 || (i % dropMod == 1 && m_freqStep[i] == 0.0f))
            m_freq[i] *= dropFactor;
    }
}
