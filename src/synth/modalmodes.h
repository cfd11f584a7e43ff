#pragma once

#include "core/zubtypes.h"

// The oscillators ("modes") of one modal voice: one array per quantity, so
// that neighbouring modes load side by side into SIMD lanes.
struct ModalModes
{
    static constexpr int kCapacity = 100;

    alignas(32) float m_amp[kCapacity] = {};
    alignas(32) float m_freq[kCapacity] = {};
    alignas(32) float m_phase[kCapacity] = {};
    alignas(32) float m_ampStep[kCapacity] = {};
    alignas(32) float m_freqStep[kCapacity] = {};
    alignas(32) float m_targetAmp[kCapacity] = {};
    alignas(32) float m_targetFreq[kCapacity] = {};
    // Samples that skipped a mode because its phase was not a number.
    int64 m_invalidLookups = 0;
};
