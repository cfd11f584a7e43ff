#include "synth/modalvoice.h"

#include "synth/modalmodel.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <numbers>

#ifdef __SSE2__
#include <immintrin.h>
#endif

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

// The table entry of one mode at phase, times amp. A run-away frequency
// leaves a phase that is no number: false then, and the mode adds nothing.
bool lookUp(const float* table, int c, float k, float phase, float amp, float& value)
{
    const float position = k * phase;
    if (!(std::fabs(position) <= 2.0f * c))
        return false;
    int idx = static_cast<int>(position);
    if (idx < 0)
        idx += c;
    if (idx == c)
        idx = 0;
    if (idx < 0 || idx >= c)
        return false;
    value = amp * table[idx];
    return true;
}

float wrapPhase(float phase)
{
    if (!(phase > -kTwoPi && phase < 2.0f * kTwoPi))
        return std::fmod(phase, kTwoPi);
    if (phase < 0.0f)
        return phase + kTwoPi;
    if (phase > kTwoPi)
        return phase - kTwoPi;
    return phase;
}

// Four modes side by side (GCC vector extensions; SSE2 on x86-64).
constexpr int kLanes = 4;
constexpr int kGroupFrames = 256;
using Lanes = float __attribute__((vector_size(4 * kLanes)));
using LaneMask = std::int32_t __attribute__((vector_size(4 * kLanes)));

Lanes loadLanes(const float* p)
{
    Lanes v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

void storeLanes(float* p, Lanes v)
{
    std::memcpy(p, &v, sizeof v);
}

bool allSet(LaneMask mask)
{
#ifdef __SSE2__
    return _mm_movemask_ps(std::bit_cast<__m128>(mask)) == 0xF;
#else
    for (int l = 0; l < kLanes; ++l) {
        if (!mask[l])
            return false;
    }
    return true;
#endif
}

Lanes broadcast(float x)
{
    return Lanes {} + x;
}

// glideToward on four modes.
void glideLanes(Lanes& value, Lanes& step, Lanes target)
{
    const Lanes zero {};
    const LaneMask still = value == target;
    const Lanes next = value + step;
    const LaneMask landed = ((step > zero) & (next >= target)) | ((step < zero) & (next <= target));
    value = still ? value : (landed ? target : next);
    step = (~still & landed) ? zero : step;
}

// wrapPhase on four modes; lanes far out of range take the scalar fmod.
Lanes wrapLanes(Lanes phase)
{
    const Lanes twoPi = broadcast(kTwoPi);
    const Lanes zero {};
    const LaneMask inside = (phase > -twoPi) & (phase < twoPi + twoPi);
    Lanes wrapped = phase < zero ? phase + twoPi : (phase > twoPi ? phase - twoPi : phase);
    if (allSet(inside))
        return wrapped;
    for (int l = 0; l < kLanes; ++l) {
        if (!inside[l])
            wrapped[l] = std::fmod(phase[l], kTwoPi);
    }
    return wrapped;
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
    const int grouped = kept - kept % kLanes;
    for (int i = 0; i < grouped; i += kLanes)
        renderModeGroup(i, out, numFrames);
    for (int i = grouped; i < kept; ++i)
        renderMode(i, out, numFrames, numFrames);
    // A trimmed mode is not advanced in the frame that trims it.
    for (int i = kept; i < m_active; ++i)
        renderMode(i, out, until[i], until[i] - 1);
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
    if (m_targetAmp[i] != 0.0f)
        return numFrames;
    float amp = m_amp[i];
    float step = m_ampStep[i];
    for (int s = 0; s < numFrames; ++s) {
        glideToward(amp, step, m_targetAmp[i]);
        if (amp == 0.0f)
            return s;
    }
    return numFrames;
}

void ModalVoice::renderMode(int i, float* out, int renderFrames, int advanceFrames)
{
    const ModalModel& model = *m_pModel;
    const int c = static_cast<int>(model.m_chop * ModalModel::kTableSize);
    const float k = c / kTwoPi;
    const float inc = model.m_dt * kTwoPi * model.m_bend;
    // Every mode drops when the drop modulus is below 2, else only settled
    // modes at 1 modulo it.
    const bool always = model.m_dropMod < 2;
    const bool settled = !always && i % model.m_dropMod == 1;
    float amp = m_amp[i], ampStep = m_ampStep[i];
    float freq = m_freq[i], freqStep = m_freqStep[i];
    float phase = m_phase[i];
    for (int s = 0; s < renderFrames; ++s) {
        float value = 0.0f;
        if (lookUp(model.m_table, c, k, phase, amp, value))
            out[s] += value;
        else
            ++m_invalidLookups;
        glideToward(amp, ampStep, m_targetAmp[i]);
        glideToward(freq, freqStep, m_targetFreq[i]);
        if (s < advanceFrames) {
            phase = wrapPhase(phase + freq * inc);
            if (always || (settled && freqStep == 0.0f))
                freq *= model.m_dropFactor;
        }
    }
    m_amp[i] = amp;
    m_ampStep[i] = ampStep;
    m_freq[i] = freq;
    m_freqStep[i] = freqStep;
    m_phase[i] = phase;
}

void ModalVoice::renderModeGroup(int first, float* out, int numFrames)
{
    const ModalModel& model = *m_pModel;
    const float* table = model.m_table;
    const int c = static_cast<int>(model.m_chop * ModalModel::kTableSize);
    const Lanes k = broadcast(c / kTwoPi);
    const Lanes inc = broadcast(model.m_dt * kTwoPi * model.m_bend);
    const Lanes dropFactor = broadcast(model.m_dropFactor);
    const Lanes highest = broadcast(2.0f * c);
    const Lanes size = broadcast(static_cast<float>(c));
    const Lanes zero {};
    const LaneMask cs = LaneMask {} + c;
    const LaneMask none {};
    const bool always = model.m_dropMod < 2;
    LaneMask settled {};
    for (int l = 0; l < kLanes; ++l)
        settled[l] = !always && (first + l) % model.m_dropMod == 1 ? -1 : 0;
    const LaneMask drops = always ? ~none : none;

    Lanes amp = loadLanes(m_amp + first), ampStep = loadLanes(m_ampStep + first);
    Lanes freq = loadLanes(m_freq + first), freqStep = loadLanes(m_freqStep + first);
    Lanes phase = loadLanes(m_phase + first);
    const Lanes targetAmp = loadLanes(m_targetAmp + first);
    const Lanes targetFreq = loadLanes(m_targetFreq + first);
    // Settled modes (amplitude on target, no frequency step) glide nowhere.
    const LaneMask gliding = (amp != targetAmp) | (freqStep != zero);
    const bool glides = !allSet(gliding == none);
    LaneMask misses {};
    // The lanes' table indexes and weights first, then the sums frame by
    // frame: the lookups of different frames do not wait on each other.
    alignas(32) LaneMask indexes[kGroupFrames];
    alignas(32) Lanes weights[kGroupFrames];
    for (int done = 0; done < numFrames; done += kGroupFrames) {
        const int n = std::min(kGroupFrames, numFrames - done);
        for (int s = 0; s < n; ++s) {
            const Lanes position = k * phase;
            if (allSet((position >= zero) & (position < size))) {
                // Within one table cycle: the index needs no mending.
                indexes[s] = __builtin_convertvector(position, LaneMask);
                weights[s] = amp;
            } else {
                const LaneMask valid = (position <= highest) & (position >= -highest);
                LaneMask idx = __builtin_convertvector(valid ? position : zero, LaneMask);
                idx = idx < none ? idx + cs : idx;
                idx = idx == cs ? none : idx;
                // A miss weighs zero: adding a zero leaves every sum as it is.
                const LaneMask hit = valid & (idx >= none) & (idx < cs);
                indexes[s] = hit ? idx : none;
                weights[s] = hit ? amp : zero;
                misses -= ~hit;
            }
            if (glides) {
                glideLanes(amp, ampStep, targetAmp);
                glideLanes(freq, freqStep, targetFreq);
            }
            phase = wrapLanes(phase + freq * inc);
            freq = (drops | (settled & (freqStep == zero))) ? freq * dropFactor : freq;
        }
        float* o = out + done;
        for (int s = 0; s < n; ++s) {
            float sum = o[s];
            for (int l = 0; l < kLanes; ++l)
                sum += weights[s][l] * table[indexes[s][l]];
            o[s] = sum;
        }
    }
    for (int l = 0; l < kLanes; ++l)
        m_invalidLookups += misses[l];
    storeLanes(m_amp + first, amp);
    storeLanes(m_ampStep + first, ampStep);
    storeLanes(m_freq + first, freq);
    storeLanes(m_freqStep + first, freqStep);
    storeLanes(m_phase + first, phase);
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
        // Skipped quietly rather than printed from the audio thread.
        float value = 0.0f;
        if (lookUp(table, c, k, m_phase[i], m_amp[i], value))
            sum += value;
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
        m_phase[i] = wrapPhase(m_phase[i] + m_freq[i] * inc);
        if (dropMod < 2 || (i % dropMod == 1 && m_freqStep[i] == 0.0f))
            m_freq[i] *= dropFactor;
    }
}
