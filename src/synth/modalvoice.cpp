#include "synth/modalvoice.h"

#include "synth/modalmodel.h"
#include "synth/modelanes.h"

#include <algorithm>
#include <cmath>

using namespace modelanes;

namespace {
constexpr float kPrimes[] = { 2.0f, 3.0f, 5.0f, 7.0f, 11.0f };
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
    std::fill(std::begin(m_modes.m_phase), std::end(m_modes.m_phase), 0.0f);
    std::fill(std::begin(m_modes.m_amp), std::end(m_modes.m_amp), 0.0f);
    std::fill(std::begin(m_modes.m_freq), std::end(m_modes.m_freq), 0.0f);
    std::copy(m_modes.m_targetAmp, m_modes.m_targetAmp + n, m_modes.m_amp);
    std::copy(m_modes.m_targetFreq, m_modes.m_targetFreq + n, m_modes.m_freq);
}

void ModalVoice::renderBlock(float* out, int numFrames)
{
    int done = 0;
    while (done < numFrames) {
        const int n = framesBeforeShift(numFrames - done);
        renderSteady(out + done, n);
        done += n;
        if (done < numFrames)
            out[done++] = tick();
    }
}

int ModalVoice::framesBeforeShift(int limit)
{
    int n = 0;
    while (n < limit && !shiftDue()) {
        advanceClock();
        ++n;
    }
    return n;
}

void ModalVoice::renderSteady(float* out, int numFrames)
{
    std::fill(out, out + numFrames, 0.0f);
    if (numFrames == 0)
        return;
    int until[kCapacity];
    const int kept = planTrim(numFrames, until);
    // Each mode adds into every frame in mode order, as render() sums them.
    m_pModel->m_pKernel->render(m_modes, kept, *m_pModel, out, numFrames);
    for (int i = kept; i < m_active; ++i)
        renderTrimmed(i, out, until[i]);
    m_active = kept;
    for (int s = 0; s < numFrames; ++s)
        out[s] *= m_gain;
}

int ModalVoice::planTrim(int numFrames, int* until) const
{
    // From the top: a mode goes in the frame after it falls silent, but never
    // before the mode above it has gone.
    int kept = m_active;
    int above = 0;
    for (int i = m_active - 1; i >= 0; --i) {
        const int frames = std::max(silentFrame(i, numFrames) + 1, above);
        if (frames > numFrames)
            break;
        until[i] = frames;
        above = frames;
        kept = i;
    }
    return kept;
}

int ModalVoice::silentFrame(int i, int numFrames) const
{
    if (m_modes.m_targetAmp[i] != 0.0f)
        return numFrames;
    Lanes<1> amp { m_modes.m_amp[i] };
    Lanes<1> step { m_modes.m_ampStep[i] };
    const Lanes<1> target {};
    for (int s = 0; s < numFrames; ++s) {
        glideToward<1>(amp, step, target);
        if (amp[0] == 0.0f)
            return s;
    }
    return numFrames;
}

void ModalVoice::renderTrimmed(int i, float* out, int numFrames)
{
    const ModeConstants k = modeConstants(*m_pModel);
    auto add = [&](int s, Mask<1> index, Lanes<1> weight) { out[s] += weight[0] * k.table[index[0]]; };
    runModes<1>(m_modes, i, 1, k, numFrames - 1, add);
    ModeLanes<1> m = loadModes<1>(m_modes, i, 1, k);
    Mask<1> index, misses {};
    Lanes<1> weight;
    lookUp<1>(m, k, index, weight, misses);
    add(numFrames - 1, index, weight);
    m_modes.m_invalidLookups += misses[0];
    modelanes::glide<1>(m);
    storeModes<1>(m_modes, i, m);
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
    float* targetFreq = m_modes.m_targetFreq;
    float* targetAmp = m_modes.m_targetAmp;
    const int m = std::min(model.m_primeModes, n);
    for (int i = 0; i < m; ++i) {
        targetFreq[i] = m_baseFreq / std::pow(kPrimes[i], model.m_detune);
        targetAmp[i] = model.m_power;
    }
    for (int j = m; j < n; ++j) {
        const int h = j - m + 1;
        targetFreq[j] = h * m_baseFreq;
        targetAmp[j] = std::pow(static_cast<float>(h), model.m_falloff);
        if (h % 2 == 0) {
            targetAmp[j] *= std::min(1.0f, 1.0f - model.m_parity);
            targetFreq[j] += model.m_jitter;
        } else {
            targetAmp[j] *= std::min(1.0f, 1.0f + model.m_parity);
            if (h > 1)
                targetFreq[j] -= model.m_jitter;
        }
    }
    float sum = 0.0f;
    for (int i = 0; i < n; ++i)
        sum += targetAmp[i];
    if (sum > 0.0f) {
        for (int i = 0; i < n; ++i)
            targetAmp[i] /= sum;
    }
}

float ModalVoice::render()
{
    const ModeConstants k = modeConstants(*m_pModel);
    float sum = 0.0f;
    Mask<1> misses {};
    for (int i = 0; i < m_active; ++i) {
        const ModeLanes<1> m = loadModes<1>(m_modes, i, 1, k);
        Mask<1> index;
        Lanes<1> weight;
        lookUp<1>(m, k, index, weight, misses);
        sum += weight[0] * k.table[index[0]];
    }
    m_modes.m_invalidLookups += misses[0];
    return sum * m_gain;
}

void ModalVoice::glide()
{
    const ModeConstants k = modeConstants(*m_pModel);
    for (int i = 0; i < m_active; ++i) {
        ModeLanes<1> m = loadModes<1>(m_modes, i, 1, k);
        modelanes::glide<1>(m);
        storeModes<1>(m_modes, i, m);
    }
}

void ModalVoice::trim()
{
    while (m_active > 0 && m_modes.m_amp[m_active - 1] == 0.0f && m_modes.m_targetAmp[m_active - 1] == 0.0f)
        --m_active;
}

bool ModalVoice::shiftDue() const
{
    const ModalModel& model = *m_pModel;
    const float interval = model.m_shiftBeats / (model.m_tempo / 60.0f);
    const float r = std::fmod(m_time, interval);
    return interval < r + model.m_dt;
}

void ModalVoice::shiftModes()
{
    if (!shiftDue())
        return;
    const ModalModel& model = *m_pModel;
    ModalModes& modes = m_modes;

    int last = std::max(m_targetCount + model.m_modeShift, model.m_minModes);
    last = std::min(last, model.m_maxModes);
    layoutTargets(last);
    if (m_active < last) {
        // New modes enter from a peeled frequency at the amplitude they had.
        for (int i = m_active; i < last; ++i)
            modes.m_freq[i] = (1.0f - model.m_exitPeel) * modes.m_targetFreq[i];
        m_active = last;
        m_targetCount = last;
    } else {
        // Leaving modes fade out while peeling away in pitch.
        for (int j = last; j < m_targetCount; ++j) {
            modes.m_targetAmp[j] = 0.0f;
            modes.m_targetFreq[j] = (1.0f + model.m_exitPeel) * modes.m_freq[j];
        }
    }
    const float steps = model.m_blendTime / model.m_dt;
    for (int i = 0; i < m_targetCount; ++i) {
        modes.m_ampStep[i] = (modes.m_targetAmp[i] - modes.m_amp[i]) / steps;
        modes.m_freqStep[i] = (modes.m_targetFreq[i] - modes.m_freq[i]) / steps;
    }
    m_targetCount = last;
}

void ModalVoice::advance()
{
    const ModeConstants k = modeConstants(*m_pModel);
    for (int i = 0; i < m_active; ++i) {
        ModeLanes<1> m = loadModes<1>(m_modes, i, 1, k);
        modelanes::advance<1>(m, k);
        storeModes<1>(m_modes, i, m);
    }
}
