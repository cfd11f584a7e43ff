#pragma once

#include "synth/synthprogram.h"

#include <vector>

// The modal synth's built-in bank: program 0 "Default" and 41 presets, each
// stored as normalised positions of its parameters.
class KelpPresetBank
{
public:
    static constexpr int kNumPrograms = 42;

    // A program of the 23 modal synth parameters at their defaults.
    static SynthProgram makeDefaultProgram();
    // All programs in bank order.
    static std::vector<SynthProgram> build();
    // Sets parameter i to min + (max - min) x positions[i] for i < count,
    // computed in single precision; the parameter's class then quantises.
    static void applyPositions(SynthProgram& program, const double* positions, int count);
};
