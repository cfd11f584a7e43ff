#pragma once

#include "core/zubtypes.h"

// The oscillators ("modes") of one modal voice: one array per quantity, so
// that neighbouring modes load side by side into SIMD lanes.
struct ModalModes
{
    static constexpr int kCapacity = 100;
    // Room up to the next multiple of eight: the last group of eight modes
    // loads whole, its spare lanes left as they were.
    static constexpr int kLaneCapacity = 104;

    alignas(32) float m_amp[kLaneCapacity] = {};
    alignas(32) float m_freq[kLaneCapacity] = {};
    alignas(32) float m_phase[kLaneCapacity] = {};
    alignas(32) float m_ampStep[kLaneCapacity] = {};
    alignas(32) float m_freqStep[kLaneCapacity] = {};
    alignas(32) float m_targetAmp[kLaneCapacity] = {};
    alignas(32) float m_targetFreq[kLaneCapacity] = {};
    // Samples that skipped a mode because its phase was not a number.
    int64 m_invalidLookups = 0;
};
