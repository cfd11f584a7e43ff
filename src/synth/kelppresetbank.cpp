#include "synth/kelppresetbank.h"

#include "synth/beatssynthparameter.h"
#include "synth/integersynthparameter.h"
#include "synth/kelpparameter.h"
#include "synth/percentsynthparameter.h"
#include "synth/wavesynthparameter.h"

#include <iterator>

namespace {

struct Preset
{
    const char* name;
    int count; // parameters set, from the first; the rest keep their defaults
    double positions[KELP_NUM_PARAMETERS];
};

const Preset kPresets[] = {
    { "Banana Bass", 23, { 0, 0.2, 0, 0.35, 0.39, 0.5, 0, 0.51, 0.79, 0.11, 0.43, 0.07, 0.04, 0, 0, 0, 0.5, 0.1, 0.095477, 0.045226, 0.7, 0.145729, 0 } },
    { "Banana Kombat", 23, { 0, 0.25, 0.005, 0.305, 0.45, 0.55, 0.02, 0.5, 0.85, 0.2, 0.43, 0.1, 0, 0.55, 0.56, 0.05, 0.5, 0.125, 0, 0.1, 0.6, 0.1, 0 } },
    { "Bass Whips", 23, { 1, 0.35, 0.015, 0.245, 0.4, 0.5, 0, 0.1875, 0.9, 0.2, 0.4286, 0.3, 0, 0.3, 0, 0.1, 0.45, 0.015, 0, 0.15, 0.4, 0.1, 0 } },
    { "Clarkish", 23, { 0.5, 0.55, 0.025, 0.155, 0.6, 1, 0, 0.5, 1, 0, 0.142857, 0.25, 0, 0, 0, 0.2, 0.5, 0.155, 0.05, 0.1, 0.8, 0.1, 0 } },
    { "OMG CRAX", 23, { 0.67, 0.15, 0.035, 0.405, 0.7, 0.3, 0.15, 0.5, 0.6, 0.4, 0.8, 0.4, 0.5, 0.55, 0.3, 0.02, 0.7, 0.055, 0, 0.2, 0.5, 0.05, 0 } },
    { "Crystal Strings", 23, { 0.67, 0.75, 0.605, 1, 0.6, 0.1, 0.01, 0.5, 1, 0.2, 0.4286, 0.2, 0, 1, 0, 0.5, 0.5, 1, 0.3, 0.2, 0.75, 0.4, 0 } },
    { "Cyborg Pad", 23, { 0.5, 0.65, 0.045, 0.205, 0.55, 0.6, 0.03, 0.5, 0.95, 0.6, 0.6, 0.3, 0, 0.8, 0.7, 0.4, 0.5, 0.085, 0.35, 0.3, 0.7, 0.45, 0 } },
    { "Decay", 23, { 0.34, 0.45, 0.015, 0.305, 0.5, 0.5, 0, 0.5, 1, 0.2, 0.4286, 0.5, 0, 0, 0, 0.3, 0.5, 0.255, 0, 0.75, 0, 0.3, 0 } },
    { "Digital Pad", 23, { 0.67, 0.55, 0.045, 0.245, 0.6, 0.5, 0.05, 0.5, 1, 0.4, 0.4286, 0.2, 0, 0.55, 0, 0.6, 0.5, 0.045, 0.4, 0.3, 0.8, 0.5, 0 } },
    { "Dubstep Handgun", 23, { 0, 0.35, 0.005, 0.405, 0.8, 0.5, 0, 0.15625, 0.7, 0.6, 0.2, 0.8, 0.25, 0.3, 0.44, 0.02, 0.3, 0.305, 0, 0.15, 0.3, 0.05, 0 } },
    { "Exit Peel Demo", 23, { 0.166667, 0.25, 0.025, 0.205, 0.666667, 0.5, 0, 0.5, 1, 0, 0.142857, 0.246231, 0, 1, 0, 1, 0, 0.105, 0.095477, 0.045226, 0.7, 0.145729, 0 } },
    { "Evacuate the Synthesizer", 23, { 0.67, 0.45, 0.025, 0.125, 0.5, 0.5, 0.08, 0.8125, 0.8, 0.2, 0.3, 0.3, 0.25, 0.3, 0, 0.5, 0.65, 0.025, 0.02, 0.2, 0.8, 0.2, 0 } },
    { "Midtune", 23, { 0.5, 0.55, 0.025, 0.105, 0.55, 0.5, 0, 0.5, 1, 0.6, 0.5, 0.6, 0, 0, 0, 0.1, 0.5, 0.085, 0.02, 0.3, 0.5, 0.2, 0 } },
    { "Hold Me PLZ", 23, { 0.67, 0.75, 0.035, 0.165, 0.65, 0.45, 0.02, 0.5, 1, 0.2, 0.142857, 0.4, 0, 0.8, 0, 0.8, 0.5, 0.035, 0.5, 0.5, 0.9, 1, 0 } },
    { "So Sad", 23, { 0.5, 0.65, 0.025, 0.125, 0.33, 0.25, 0, 0.21875, 1, 0.2, 0.142857, 0.6, 0, 0.8, 0, 0.3, 0.5, 0.065, 0.2, 0.4, 0.6, 0.5, 0 } },
    { "Laser Shots and Vodka", 23, { 0.5, 0.55, 0.025, 0.105, 0.7, 0.5, 0, 0.125, 1, 0, 0.142857, 0.5, 0, 0.3, 0, 0.01, 0.5, 0.065, 0, 0.15, 0, 0.1, 0 } },
    { "Lemon Bass", 23, { 0.34, 0.35, 0.035, 0.125, 0.5, 0.6, 0, 0.5, 0.9, 0.4, 0.4286, 0.4, 0, 0.3, 0, 0.05, 0.5, 0.125, 0, 0.25, 0.5, 0.1, 0 } },
    { "Lime Bass", 23, { 0.34, 0.45, 0.045, 0.155, 0.55, 0.4, 0, 0.5, 0.5, 0.2, 0.4286, 0.5, 0, 0.55, 0, 0.05, 0.5, 0.155, 0, 0.2, 0.6, 0.1, 0 } },
    { "Meow", 23, { 0.84, 0.45, 0.015, 0.085, 0.65, 0.3, 0.04, 0.2, 0.75, 0.2, 0.3, 0.5, 0, 0.8, 0, 0.3, 0.25, 0.015, 0.05, 0.3, 0.5, 0.15, 0 } },
    { "Miniarp", 23, { 1, 0.15, 0.015, 0.165, 0.9, 0.5, 0, 0.5, 0.8, 0, 0.142857, 0.5, 0, 0.55, 0, 0.01, 0.55, 0.015, 0, 0.2, 0.6, 0.1, 0 } },
    { "Organ", 23, { 0.166667, 0.6, 0.17, 0.35, 0.78, 0.17, 0, 0.51, 0.72, 0.16, 0.43, 0.61, 1, 0, 0, 0.260975, 0.5, 0.1, 0.245283, 0.245283, 0.7, 0.47422, 0 } },
    { "Pinball Lasers", 23, { 0.5, 0.55, 0.025, 0.065, 0.75, 0.5, 0.1, 0.84375, 1, 0, 0.142857, 0.5, 0, 0.3, 0.3, 0.01, 0.5, 0.045, 0, 0.12, 0, 0.1, 0 } },
    { "Pots and Pans in Orbit", 23, { 0.34, 0.35, 0.035, 0.205, 0.8, 0.5, 0.45, 0.5, 1, 1, 0.9, 0.4, 0, 1, 0, 0.1, 0.5, 0.205, 0, 0.6, 0.05, 0.3, 0 } },
    { "Pretty Pretty", 23, { 0.5, 0.65, 0.025, 0.085, 0.6, 0.65, 0.01, 0.5, 1, 0.4, 0.7, 0.3, 0, 0, 0, 0.2, 0.5, 0.085, 0.01, 0.4, 0.3, 0.6, 0 } },
    { "Ring Rhode", 23, { 0.34, 0.65, 0.025, 0.105, 0.55, 0.55, 0.07, 0.5, 1, 0.2, 0.4286, 0.8, 0, 0, 0, 0.2, 0.5, 0.105, 0, 0.5, 0.25, 0.25, 0 } },
    { "Robobass", 23, { 0.17, 0.45, 0.025, 0.205, 0.45, 0.5, 0, 0.5, 0.85, 0.2, 0.4286, 0.6, 0, 0.3, 0.56, 0.05, 0.5, 0.205, 0, 0.2, 0.7, 0.1, 0 } },
    { "Shower time", 23, { 0.67, 0.35, 0.055, 0.305, 0.7, 0.5, 0.3, 0.5, 1, 0.4, 0.3, 0.3, 0, 0.8, 0, 0.9, 0.6, 0.055, 0.3, 0.3, 0.6, 0.5, 0 } },
    { "Sine-ish", 13, { 0.67, 0, 0.015, 0.015, 0.43, 0.5, 0.02, 0.5, 0.52, 0.11, 0.61, 0.14, 0 } },
    { "Sleep Walker", 23, { 0.84, 0.75, 0.025, 0.305, 0.6, 0.4, 0.01, 0.25, 1, 0.2, 0.2, 0.4, 0.5, 0.8, 0, 0.9, 0.5, 0.025, 0.25, 0.3, 0.8, 0.6, 0 } },
    { "Sleep Walker Remix", 23, { 0.84, 0.55, 0.025, 0.305, 0.6, 0.4, 0.01, 0.25, 0.7, 0.2, 0.2, 0.4, 0.5, 0.8, 0.44, 0.5, 0.5, 0.025, 0.1, 0.3, 0.8, 0.6, 0 } },
    { "Slow Bird", 23, { 0.67, 0.55, 0.015, 0.055, 0.4, 0.5, 0.05, 0.78125, 0.65, 0, 0.142857, 0.5, 0, 0, 0, 0.4, 0.5, 0.015, 0.3, 0.2, 0.7, 0.4, 0 } },
    { "Son of Digital Pad", 23, { 0.67, 0.55, 0.065, 0.285, 0.65, 0.7, 0.03, 0.5, 1, 0.6, 0.6, 0.25, 0, 1, 0, 0.7, 0.5, 0.065, 0.45, 0.3, 0.75, 0.55, 0 } },
    { "Space Whips", 23, { 0.17, 0.35, 0.015, 0.255, 0.55, 0.5, 0.02, 0.1875, 0.9, 0.2, 0.4286, 0.5, 0.25, 0.55, 0, 0.15, 0.8, 0.255, 0, 0.35, 0.3, 0.3, 0 } },
    { "Squish", 23, { 0.5, 0.45, 0.035, 0.125, 0.5, 0.5, 0, 0.5, 0.45, 0.2, 0.4286, 0.8, 0, 1, 0, 0.1, 0.5, 0.085, 0, 0.25, 0.6, 0.1, 0 } },
    { "Sleepy in the Future", 23, { 0.67, 0.65, 0.025, 0.125, 0.7, 0.5, 0.01, 0.5, 1, 0.2, 0.3, 0.3, 0, 0, 0.8, 0.6, 0.5, 0.025, 0.7, 0.5, 0.8, 0.7, 0 } },
    { "Smooth Decay", 23, { 0.34, 0.65, 0.025, 0.155, 0.6, 0.5, 0, 0.5, 1, 0.2, 0.4286, 0.4, 0, 0.8, 0, 0.5, 0.5, 0.155, 0.02, 1, 0.2, 0.5, 0 } },
    { "Snoring", 23, { 0.5, 0.45, 0.045, 0.105, 0.45, 0.3, 0.2, 0.21875, 0.5, 0.4, 0.9, 1, 0.75, 0.8, 0.3, 0.3, 0.5, 0.085, 0.2, 0.3, 0.7, 0.3, 0 } },
    { "Superlasers", 23, { 0.67, 0.15, 0.025, 0.165, 0.75, 0.5, 0.05, 0.859375, 0.9, 0.2, 0.2, 0.5, 0, 0.55, 0, 0.01, 0.4, 0.045, 0, 0.2, 0.1, 0.2, 0 } },
    { "Super Oscillator Bros", 22, { 0.5, 0, 0.025, 0.045, 1, 0.5567, 0, 0.499992, 0.8, 0.19072, 0.144343, 0.246231, 0, 0, 0.4, 0.778384, 0, 0.025, 0, 0.056683, 0.2, 0 } },
    { "The Percussion that Grow", 23, { 0.84, 0.35, 0.015, 0.405, 0.8, 0.5, 0.12, 0.5, 1, 0.6, 1, 0.6, 0, 0, 0.3, 0.02, 0.5, 0.015, 0, 0.15, 0.15, 0.2, 0 } },
    { "Turbo Space Organ", 22, { 0.67, 0.45, 0.175, 0.455, 0.75, 0.2, 0.03, 0.53, 0.8, 0.2, 0.4286, 0.7, 1, 0.8, 0, 0.2, 0.55, 0.175, 0.3, 0.3, 0.75, 0.5 } },
};

static_assert(std::size(kPresets) == KelpPresetBank::kNumPrograms - 1);

} // namespace

SynthProgram KelpPresetBank::makeDefaultProgram()
{
    SynthProgram program(KELP_NUM_PARAMETERS);
    program.setName("Default");
    program.setParameter(KELP_MODE_SHIFT, new IntegerSynthParameter("Mode Shift", "osc", -3, 3, 0));
    program.setParameter(KELP_SHIFT_INTERVAL, new BeatsSynthParameter("Shift Interval", "beats", -5, 5, 1));
    program.setParameter(KELP_MIN_MODES, new IntegerSynthParameter("Min Modes", "osc", 0, 100, 2));
    program.setParameter(KELP_MAX_MODES, new IntegerSynthParameter("Max Modes", "osc", 0, 100, 20));
    program.setParameter(KELP_FALLOFF, new SynthParameter("Falloff", "", -3, 0, -1));
    program.setParameter(KELP_PARITY, new SynthParameter("Parity", "", -1, 1, 0));
    program.setParameter(KELP_JITTER, new SynthParameter("Jitter", "Hz", 0, 100, 0));
    program.setParameter(KELP_FREQ_DROP, new SynthParameter("Freq Drop", "", -8, 8, 0));
    program.setParameter(KELP_CHOP, new SynthParameter("Chop", "", 0.1f, 1, 1));
    program.setParameter(KELP_MODES, new SynthParameter("Modes", "", 0, 5, 0));
    program.setParameter(KELP_DETUNE, new SynthParameter("Detune", "", 0.25f, 2, 0.5f));
    program.setParameter(KELP_POWER, new SynthParameter("Power", "", 0.01f, 2, 0.5f));
    program.setParameter(KELP_DROP_MOD, new SynthParameter("Drop Mod", "", 1, 5, 1));
    program.setParameter(KELP_WAVE, new WaveSynthParameter("Wave", "", 0, 4, 0));
    program.setParameter(KELP_CRUSH, new IntegerSynthParameter("Crush", "bits", 0, 8, 0));
    program.setParameter(KELP_BLEND_TIME, new SynthParameter("Blend Time", "s", 0.01f, 1, 0.01f));
    program.setParameter(KELP_EXIT_PEEL, new SynthParameter("Exit Peel", "", -5, 5, 0));
    program.setParameter(KELP_MODE_INIT, new IntegerSynthParameter("Mode Init", "osc", 0, 100, 10));
    program.setParameter(KELP_ATTACK, new SynthParameter("Attack", "s", 0.01f, 2, 0.2f));
    program.setParameter(KELP_DECAY, new SynthParameter("Decay", "s", 0.01f, 2, 0.1f));
    program.setParameter(KELP_SUSTAIN, new PercentSynthParameter("Sustain", "%", 0, 1, 0.7f));
    program.setParameter(KELP_RELEASE, new SynthParameter("Release", "s", 0.01f, 2, 0.3f));
    program.setParameter(KELP_RESERVED, new IntegerSynthParameter("Reserved", "", 0, 4, 0));
    return program;
}

std::vector<SynthProgram> KelpPresetBank::build()
{
    std::vector<SynthProgram> bank;
    bank.reserve(kNumPrograms);
    bank.push_back(makeDefaultProgram());
    for (const Preset& preset : kPresets) {
        SynthProgram program(bank.front());
        program.setName(preset.name);
        applyPositions(program, preset.positions, preset.count);
        bank.push_back(std::move(program));
    }
    return bank;
}

void KelpPresetBank::applyPositions(SynthProgram& program, const double* positions, int count)
{
    for (int i = 0; i < count; ++i) {
        SynthParameter* parameter = program.parameter(i);
        const float t = static_cast<float>(positions[i]);
        parameter->setValue(parameter->min() + (parameter->max() - parameter->min()) * t);
    }
}
