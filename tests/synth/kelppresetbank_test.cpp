#include "synth/kelppresetbank.h"

#include "synth/synthrender.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

const char* const kNames[] = { "Default", "Banana Bass", "Banana Kombat", "Bass Whips", "Clarkish", "OMG CRAX",
    "Crystal Strings", "Cyborg Pad", "Decay", "Digital Pad", "Dubstep Handgun", "Exit Peel Demo",
    "Evacuate the Synthesizer", "Midtune", "Hold Me PLZ", "So Sad", "Laser Shots and Vodka", "Lemon Bass",
    "Lime Bass", "Meow", "Miniarp", "Organ", "Pinball Lasers", "Pots and Pans in Orbit", "Pretty Pretty",
    "Ring Rhode", "Robobass", "Shower time", "Sine-ish", "Sleep Walker", "Sleep Walker Remix", "Slow Bird",
    "Son of Digital Pad", "Space Whips", "Squish", "Sleepy in the Future", "Smooth Decay", "Snoring",
    "Superlasers", "Super Oscillator Bros", "The Percussion that Grow", "Turbo Space Organ" };

TEST(KelpPresetBank, ProgramsInBankOrder)
{
    KelpSynthEngine engine;
    ASSERT_EQ(engine.numPrograms(), 42);
    for (int i = 0; i < 42; ++i)
        EXPECT_EQ(engine.program(i).name(), kNames[i]) << i;
    EXPECT_EQ(engine.currentProgramIndex(), 0);
    engine.setProgram(42);
    EXPECT_EQ(engine.currentProgramIndex(), 0);
}

TEST(KelpPresetBank, DefaultProgramShowsTheDefaults)
{
    const char* const expected[] = { "0 osc", "2 beats", "2 osc", "20 osc", "-1.00 ", "0.00 ", "0.00 Hz", "0.00 ",
        "1.00 ", "0.00 ", "0.50 ", "0.50 ", "1.00 ", "Sine", "0 bits", "0.01 s", "0.00 ", "10 osc", "0.20 s",
        "0.10 s", "70%", "0.30 s", "0 " };
    KelpSynthEngine engine;
    const SynthProgram fresh = KelpPresetBank::makeDefaultProgram();
    for (const SynthProgram* program : { &fresh, &engine.program(0) }) {
        ASSERT_EQ(program->numParameters(), KELP_NUM_PARAMETERS);
        for (int i = 0; i < KELP_NUM_PARAMETERS; ++i)
            EXPECT_EQ(program->parameter(i)->displayText(), expected[i]) << program->parameter(i)->name();
    }
    EXPECT_EQ(fresh.parameter(KELP_SUSTAIN)->name(), "Sustain");
    EXPECT_EQ(fresh.parameter(KELP_SUSTAIN)->unit(), "%");
}

TEST(KelpPresetBank, ParametersHaveTheirNamesUnitsAndRanges)
{
    struct Row
    {
        const char* name;
        const char* unit;
        float min;
        float max;
    };
    const Row rows[KELP_NUM_PARAMETERS] = { { "Mode Shift", "osc", -3, 3 }, { "Shift Interval", "beats", -5, 5 },
        { "Min Modes", "osc", 0, 100 }, { "Max Modes", "osc", 0, 100 }, { "Falloff", "", -3, 0 },
        { "Parity", "", -1, 1 }, { "Jitter", "Hz", 0, 100 }, { "Freq Drop", "", -8, 8 }, { "Chop", "", 0.1f, 1 },
        { "Modes", "", 0, 5 }, { "Detune", "", 0.25f, 2 }, { "Power", "", 0.01f, 2 }, { "Drop Mod", "", 1, 5 },
        { "Wave", "", 0, 4 }, { "Crush", "bits", 0, 8 }, { "Blend Time", "s", 0.01f, 1 }, { "Exit Peel", "", -5, 5 },
        { "Mode Init", "osc", 0, 100 }, { "Attack", "s", 0.01f, 2 }, { "Decay", "s", 0.01f, 2 },
        { "Sustain", "%", 0, 1 }, { "Release", "s", 0.01f, 2 }, { "Reserved", "", 0, 4 } };
    const SynthProgram program = KelpPresetBank::makeDefaultProgram();
    for (int i = 0; i < KELP_NUM_PARAMETERS; ++i) {
        const SynthParameter* p = program.parameter(i);
        EXPECT_EQ(p->name(), rows[i].name) << i;
        EXPECT_EQ(p->unit(), rows[i].unit) << rows[i].name;
        EXPECT_FLOAT_EQ(p->min(), rows[i].min) << rows[i].name;
        EXPECT_FLOAT_EQ(p->max(), rows[i].max) << rows[i].name;
    }
}

// Each cell as the table prints it; a cell matches to half a unit of its
// last printed digit.
struct TellingRow
{
    KelpParameter parameter;
    const char* values[6];
};

const int kTellingPrograms[6] = { 0, 1, 11, 21, 28, 39 };

const TellingRow kTellingRows[] = {
    { KELP_MODE_SHIFT, { "0", "-3", "-2", "-2", "1", "0" } },
    { KELP_SHIFT_INTERVAL, { "1", "-3", "-3", "1", "-5", "-5" } },
    { KELP_MIN_MODES, { "2", "0", "2", "17", "1", "2" } },
    { KELP_MAX_MODES, { "20", "35", "20", "35", "1", "4" } },
    { KELP_FALLOFF, { "-1", "-1.83", "-1", "-0.66", "-1.71", "0" } },
    { KELP_PARITY, { "0", "0", "0", "-0.66", "0", "0.1134" } },
    { KELP_JITTER, { "0", "0", "0", "0", "2", "0" } },
    { KELP_FREQ_DROP, { "0", "0.16", "0", "0.16", "0", "-0.000128" } },
    { KELP_CHOP, { "1", "0.811", "1", "0.748", "0.568", "0.82" } },
    { KELP_MODES, { "0", "0.55", "0", "0.8", "0.55", "0.9536" } },
    { KELP_DETUNE, { "0.5", "1.0025", "0.5", "1.0025", "1.3175", "0.5026" } },
    { KELP_POWER, { "0.5", "0.1493", "0.5", "1.224", "0.2886", "0.5" } },
    { KELP_DROP_MOD, { "1", "1.16", "1", "5", "1", "1" } },
    { KELP_WAVE, { "0", "0", "4", "0", "0", "0" } },
    { KELP_CRUSH, { "0", "0", "0", "0", "0", "3" } },
    { KELP_BLEND_TIME, { "0.01", "0.01", "1", "0.2684", "0.01", "0.7806" } },
    { KELP_EXIT_PEEL, { "0", "0", "-5", "0", "0", "-5" } },
    { KELP_MODE_INIT, { "10", "10", "10", "10", "10", "2" } },
    { KELP_ATTACK, { "0.2", "0.2", "0.2", "0.4981", "0.2", "0.01" } },
    { KELP_DECAY, { "0.1", "0.1", "0.1", "0.4981", "0.1", "0.1228" } },
    { KELP_SUSTAIN, { "0.7", "0.7", "0.7", "0.7", "0.7", "0.2" } },
    { KELP_RELEASE, { "0.3", "0.3", "0.3", "0.9537", "0.3", "0.01" } },
    { KELP_RESERVED, { "0", "0", "0", "0", "0", "0" } },
};

double halfLastDigit(const char* text)
{
    const char* point = std::strchr(text, '.');
    const int decimals = point ? static_cast<int>(std::strlen(point + 1)) : 0;
    return 0.5 * std::pow(10.0, -decimals) + 1e-6;
}

TEST(KelpPresetBank, TellingRowsComeOutAsPrinted)
{
    KelpSynthEngine engine;
    for (const TellingRow& row : kTellingRows) {
        for (int column = 0; column < 6; ++column) {
            const SynthProgram& program = engine.program(kTellingPrograms[column]);
            const char* text = row.values[column];
            EXPECT_NEAR(program.value(row.parameter), std::atof(text), halfLastDigit(text))
                << program.name() << ", " << program.parameter(row.parameter)->name();
        }
    }
}

TEST(KelpPresetBank, ExitPeelDemoIsSonOfPolyWithSlowBlendAndFullPeel)
{
    KelpSynthEngine engine;
    const SynthProgram& demo = engine.program(11);
    EXPECT_EQ(demo.parameter(KELP_WAVE)->displayText(), "Son of Poly");
    EXPECT_FLOAT_EQ(demo.value(KELP_BLEND_TIME), 1.0f);
    EXPECT_FLOAT_EQ(demo.value(KELP_EXIT_PEEL), -5.0f);
}

TEST(KelpPresetBank, PositionsAreMappedInSinglePrecisionThenQuantised)
{
    // 0.35 of 0..100 is 34.99999 in double but 35 in single precision.
    SynthProgram program = KelpPresetBank::makeDefaultProgram();
    const double positions[] = { 0.5, 0.2, 0.02, 0.35 };
    KelpPresetBank::applyPositions(program, positions, 4);
    EXPECT_EQ(program.value(KELP_MODE_SHIFT), 0.0f);
    EXPECT_EQ(program.value(KELP_SHIFT_INTERVAL), -3.0f);
    EXPECT_EQ(program.value(KELP_MIN_MODES), 2.0f);
    EXPECT_EQ(program.value(KELP_MAX_MODES), 35.0f);
    EXPECT_EQ(program.value(KELP_FALLOFF), -1.0f); // not set: the default stays
}

// Middle C of every program for two seconds (released after one and a half).
std::vector<float> renderMiddleC(int programIndex)
{
    KelpSynthEngine engine;
    engine.setProgram(programIndex);
    engine.noteOn(60, 127, 0);
    engine.noteOff(60, 44100 * 3 / 2);
    return renderMono(engine, 2 * 44100);
}

TEST(KelpPresetBank, EveryPresetIsAudibleBoundedAndDistinct)
{
    // One voice at velocity 127: the envelope peaks at 1, the voice sum at
    // its gain 0.5, and the mix rule divides by 3.
    const float bound = 0.5f * KelpSynthEngine::kOutputGain / 3.0f * 1.001f;
    std::vector<std::vector<float>> renders;
    for (int p = 0; p < KelpPresetBank::kNumPrograms; ++p) {
        renders.push_back(renderMiddleC(p));
        const std::vector<float>& out = renders.back();
        float peak = 0.0f;
        for (float s : out)
            peak = std::max(peak, std::isfinite(s) ? std::fabs(s) : 1e9f);
        EXPECT_GT(acRms(out), 0.02f) << kNames[p] << " is (nearly) silent";
        EXPECT_LE(peak, bound) << kNames[p];
    }
    for (int a = 0; a < KelpPresetBank::kNumPrograms; ++a) {
        for (int b = a + 1; b < KelpPresetBank::kNumPrograms; ++b) {
            std::vector<float> difference(renders[a].size());
            for (std::size_t i = 0; i < difference.size(); ++i)
                difference[i] = renders[a][i] - renders[b][i];
            EXPECT_GT(rms(difference), 0.1f * std::max(rms(renders[a]), rms(renders[b])))
                << kNames[a] << " sounds like " << kNames[b];
        }
    }
}

} // namespace
