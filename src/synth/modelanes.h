#pragma once

// The per-sample arithmetic of the modal voice's modes, written once for N
// modes side by side in the lanes of a GCC vector: one mode (a tick, a mode
// that fades out within a block), four (SSE2) or eight (AVX2).
//
// Every function here has internal linkage and calls no inline function of
// the standard library: each file that includes this compiles its own copy
// for its own instruction set, and the linker never picks a copy built for a
// wider processor to serve another file (scripts/check-wide-kernel checks).

#include "synth/modalmodel.h"
#include "synth/modalmodes.h"

#include <cstdint>
#include <numbers>

#ifdef __SSE2__
#include <immintrin.h>
#endif

namespace modelanes {

constexpr float kTwoPi = 2.0f * std::numbers::pi_v<float>;
// Frames whose table indexes are gathered before they are summed.
constexpr int kStageFrames = 256;

template <int N>
struct LaneTypes;
template <>
struct LaneTypes<1> {
    using Float = float __attribute__((vector_size(4)));
    using Int = std::int32_t __attribute__((vector_size(4)));
};
template <>
struct LaneTypes<4> {
    using Float = float __attribute__((vector_size(16)));
    using Int = std::int32_t __attribute__((vector_size(16)));
};
template <>
struct LaneTypes<8> {
    using Float = float __attribute__((vector_size(32)));
    using Int = std::int32_t __attribute__((vector_size(32)));
};
template <int N>
using Lanes = typename LaneTypes<N>::Float;
// A comparison's result: all bits set in a lane where it holds.
template <int N>
using Mask = typename LaneTypes<N>::Int;

template <int N>
static inline Lanes<N> splat(float x)
{
    return Lanes<N> {} + x;
}

template <int N>
static inline bool allSet(Mask<N> mask)
{
    if constexpr (N == 1) {
        return mask[0] != 0;
#ifdef __AVX__
    } else if constexpr (N == 8) {
        return _mm256_movemask_ps((__m256)mask) == 0xFF;
#endif
#ifdef __SSE2__
    } else if constexpr (N == 4) {
        return _mm_movemask_ps((__m128)mask) == 0xF;
#endif
    } else {
        for (int l = 0; l < N; ++l) {
            if (!mask[l])
                return false;
        }
        return true;
    }
}

template <int N>
static inline bool anySet(Mask<N> mask)
{
    return !allSet<N>(mask == Mask<N> {});
}

// What every mode of a voice reads in a block, from the model.
struct ModeConstants {
    const float* table;
    // Table entries one cycle plays: a chop below 1 plays only the first part.
    int cycle;
    // Table position per radian of phase.
    float perRadian;
    // Radians per sample per Hz.
    float radiansPerHz;
    float dropFactor;
    int dropMod;
};

static inline ModeConstants modeConstants(const ModalModel& model)
{
    const int cycle = static_cast<int>(model.m_chop * ModalModel::kTableSize);
    return { model.m_table, cycle, cycle / kTwoPi, model.m_dt * kTwoPi * model.m_bend, model.m_dropFactor,
        model.m_dropMod };
}

// Modes first .. first + N - 1 in lanes.
template <int N>
struct ModeLanes {
    Lanes<N> amp, ampStep, freq, freqStep, phase, targetAmp, targetFreq;
    // Every mode drops in pitch when the drop modulus is below 2; else only
    // the modes at 1 modulo it, and only once their glide has settled.
    Mask<N> dropsAlways, dropsSettled;
    // Lanes past the modes asked for: silent and still, left as they were.
    Mask<N> empty;
    // Some lane glides: settled modes (amplitude on target, no frequency
    // step) glide nowhere.
    bool gliding;
};

template <int N>
static inline Lanes<N> load(const float* p)
{
    Lanes<N> v;
    __builtin_memcpy(&v, p, sizeof v);
    return v;
}

template <int N>
static inline void store(float* p, Lanes<N> v)
{
    __builtin_memcpy(p, &v, sizeof v);
}

// Modes [first, first + count) in the lanes; the lanes past count stay
// silent. first + N must stay within ModalModes::kLaneCapacity.
template <int N>
static inline ModeLanes<N> loadModes(const ModalModes& modes, int first, int count, const ModeConstants& k)
{
    ModeLanes<N> m;
    const bool always = k.dropMod < 2;
    for (int l = 0; l < N; ++l) {
        m.empty[l] = l < count ? 0 : -1;
        m.dropsSettled[l] = !always && (first + l) % k.dropMod == 1 ? -1 : 0;
    }
    m.dropsAlways = Mask<N> {} - (always ? 1 : 0);
    const Lanes<N> zero {};
    const Mask<N> empty = m.empty;
    m.amp = empty ? zero : load<N>(modes.m_amp + first);
    m.ampStep = empty ? zero : load<N>(modes.m_ampStep + first);
    m.freq = empty ? zero : load<N>(modes.m_freq + first);
    m.freqStep = empty ? zero : load<N>(modes.m_freqStep + first);
    m.phase = empty ? zero : load<N>(modes.m_phase + first);
    m.targetAmp = empty ? zero : load<N>(modes.m_targetAmp + first);
    m.targetFreq = empty ? zero : load<N>(modes.m_targetFreq + first);
    m.gliding = anySet<N>((m.amp != m.targetAmp) | (m.freqStep != zero));
    return m;
}

template <int N>
static inline void storeLanes(float* p, Lanes<N> v, Mask<N> empty)
{
    store<N>(p, empty ? load<N>(p) : v);
}

template <int N>
static inline void storeModes(ModalModes& modes, int first, const ModeLanes<N>& m)
{
    storeLanes<N>(modes.m_amp + first, m.amp, m.empty);
    storeLanes<N>(modes.m_ampStep + first, m.ampStep, m.empty);
    storeLanes<N>(modes.m_freq + first, m.freq, m.empty);
    storeLanes<N>(modes.m_freqStep + first, m.freqStep, m.empty);
    storeLanes<N>(modes.m_phase + first, m.phase, m.empty);
}

// The table index and weight (the amplitude) of each mode at its phase. A
// run-away frequency leaves a phase that is no number: that lane misses,
// weighs zero (adding it leaves every sum as it is) and counts in misses.
template <int N>
static inline void lookUp(const ModeLanes<N>& m, const ModeConstants& k, Mask<N>& index, Lanes<N>& weight,
    Mask<N>& misses)
{
    const Lanes<N> zero {};
    const Mask<N> none {};
    const Lanes<N> position = k.perRadian * m.phase;
    if (allSet<N>((position >= zero) & (position < splat<N>(static_cast<float>(k.cycle))))) {
        // Within one table cycle: the index needs no mending.
        index = __builtin_convertvector(position, Mask<N>);
        weight = m.amp;
        return;
    }
    const Lanes<N> highest = splat<N>(2.0f * k.cycle);
    const Mask<N> cycle = none + k.cycle;
    const Mask<N> valid = (position <= highest) & (position >= -highest);
    Mask<N> idx = __builtin_convertvector(valid ? position : zero, Mask<N>);
    idx = idx < none ? idx + cycle : idx;
    idx = idx == cycle ? none : idx;
    const Mask<N> hit = valid & (idx >= none) & (idx < cycle);
    index = hit ? idx : none;
    weight = hit ? m.amp : zero;
    misses -= ~hit;
}

// Moves value by step toward target; lands on the target once it is reached
// or crossed and stops the glide.
template <int N>
static inline void glideToward(Lanes<N>& value, Lanes<N>& step, Lanes<N> target)
{
    const Lanes<N> zero {};
    const Mask<N> still = value == target;
    const Lanes<N> next = value + step;
    const Mask<N> landed = ((step > zero) & (next >= target)) | ((step < zero) & (next <= target));
    value = still ? value : (landed ? target : next);
    step = (~still & landed) ? zero : step;
}

template <int N>
static inline void glide(ModeLanes<N>& m)
{
    glideToward<N>(m.amp, m.ampStep, m.targetAmp);
    glideToward<N>(m.freq, m.freqStep, m.targetFreq);
}

// Lanes far out of range: fmod. Out of line, so that the common case keeps
// its values in registers.
template <int N>
__attribute__((noinline, cold)) static Lanes<N> wrapFar(Lanes<N> phase, Lanes<N> wrapped, Mask<N> inside)
{
    for (int l = 0; l < N; ++l) {
        if (!inside[l])
            wrapped[l] = __builtin_fmodf(phase[l], kTwoPi);
    }
    return wrapped;
}

// Back into [0, 2 pi]; a phase far out of range takes fmod.
template <int N>
static inline Lanes<N> wrapPhase(Lanes<N> phase)
{
    const Lanes<N> twoPi = splat<N>(kTwoPi);
    const Lanes<N> zero {};
    const Mask<N> inside = (phase > -twoPi) & (phase < twoPi + twoPi);
    const Lanes<N> wrapped = phase < zero ? phase + twoPi : (phase > twoPi ? phase - twoPi : phase);
    return allSet<N>(inside) ? wrapped : wrapFar<N>(phase, wrapped, inside);
}

// One sample on: the phase moves by the frequency, which then drops.
template <int N>
static inline void advance(ModeLanes<N>& m, const ModeConstants& k)
{
    m.phase = wrapPhase<N>(m.phase + m.freq * k.radiansPerHz);
    // A factor of 1 leaves every frequency as it is.
    if (k.dropFactor == 1.0f)
        return;
    const Mask<N> drops = m.dropsAlways | (m.dropsSettled & (m.freqStep == Lanes<N> {}));
    m.freq = drops ? m.freq * k.dropFactor : m.freq;
}

template <int N>
static inline Lanes<N> gather(const float* table, Mask<N> index)
{
#ifdef __AVX2__
    if constexpr (N == 8)
        return (Lanes<8>)_mm256_i32gather_ps(table, (__m256i)index, 4);
#endif
    Lanes<N> v;
    for (int l = 0; l < N; ++l)
        v[l] = table[index[l]];
    return v;
}

// a x b + c, fused where the processor has it.
template <int N>
static inline Lanes<N> multiplyAdd(Lanes<N> a, Lanes<N> b, Lanes<N> c)
{
#ifdef __FMA__
    if constexpr (N == 8)
        return (Lanes<8>)_mm256_fmadd_ps((__m256)a, (__m256)b, (__m256)c);
#endif
    return a * b + c;
}

// Moves modes [first, first + count) on by numFrames samples and hands
// frame s's table indexes and weights to lookedUp(s, index, weight). Each
// group of modes runs through the frames on its own, which keeps its state
// in registers.
template <int N, class LookedUp>
static inline void runModes(ModalModes& modes, int first, int count, const ModeConstants& k, int numFrames,
    LookedUp&& lookedUp)
{
    ModeLanes<N> m = loadModes<N>(modes, first, count, k);
    Mask<N> misses {};
    for (int s = 0; s < numFrames; ++s) {
        Mask<N> index;
        Lanes<N> weight;
        lookUp<N>(m, k, index, weight, misses);
        lookedUp(s, index, weight);
        if (m.gliding)
            glide<N>(m);
        advance<N>(m, k);
    }
    for (int l = 0; l < N; ++l)
        modes.m_invalidLookups += misses[l];
    storeModes<N>(modes, first, m);
}

// How a kernel adds up the modes of a frame.
enum class SumOrder {
    // One after the other in mode order, as a tick sums them: the recorded
    // numbers. The indexes of a stage of frames are gathered first and summed
    // after, so that lookups of different frames do not wait on each other.
    ModeByMode,
    // Each lane across the groups, the lanes added up at the end: fewer steps
    // that wait on each other, and other numbers in the last bits.
    LaneByLane,
};

// Adds modes [0, count) into out[0, numFrames) and moves them on by as many
// samples, N at a time; the last group may be partly empty.
template <int N, SumOrder order>
static void renderModes(ModalModes& modes, int count, ModeConstants k, float* out, int numFrames)
{
    // k is a copy: a store to the stages below cannot be taken for a change of it.
    for (int done = 0; done < numFrames; done += kStageFrames) {
        const int n = numFrames - done < kStageFrames ? numFrames - done : kStageFrames;
        float* o = out + done;
        if constexpr (order == SumOrder::ModeByMode) {
            alignas(32) Mask<N> indexes[kStageFrames];
            alignas(32) Lanes<N> weights[kStageFrames];
            for (int first = 0; first < count; first += N) {
                runModes<N>(modes, first, count - first, k, n, [&](int s, Mask<N> index, Lanes<N> weight) {
                    indexes[s] = index;
                    weights[s] = weight;
                });
                for (int s = 0; s < n; ++s) {
                    float sum = o[s];
                    for (int l = 0; l < N; ++l)
                        sum += weights[s][l] * k.table[indexes[s][l]];
                    o[s] = sum;
                }
            }
        } else {
            alignas(32) Lanes<N> sums[kStageFrames];
            for (int s = 0; s < n; ++s)
                sums[s] = Lanes<N> {};
            for (int first = 0; first < count; first += N) {
                runModes<N>(modes, first, count - first, k, n, [&](int s, Mask<N> index, Lanes<N> weight) {
                    sums[s] = multiplyAdd<N>(weight, gather<N>(k.table, index), sums[s]);
                });
            }
            for (int s = 0; s < n; ++s) {
                float sum = o[s];
                for (int l = 0; l < N; ++l)
                    sum += sums[s][l];
                o[s] = sum;
            }
        }
    }
}

} // namespace modelanes
