#include "synth/beatssynthparameter.h"
#include "synth/integersynthparameter.h"
#include "synth/percentsynthparameter.h"
#include "synth/synthprogram.h"
#include "synth/wavesynthparameter.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

struct DisplayCase
{
    const char* what;
    std::shared_ptr<SynthParameter> parameter;
    float value;
    const char* expected;
};

std::shared_ptr<SynthParameter> beats() { return std::make_shared<BeatsSynthParameter>("Shift Interval", "beats", -5, 5, 1); }
std::shared_ptr<SynthParameter> wave() { return std::make_shared<WaveSynthParameter>("Wave", "", 0, 4, 0); }

TEST(SynthParameter, DisplayTexts)
{
    const DisplayCase cases[] = {
        { "beats -5", beats(), -5, "1/32 beats" },
        { "beats -2", beats(), -2, "1/4 beats" },
        { "beats 0", beats(), 0, "1 beats" },
        { "beats 1", beats(), 1, "2 beats" },
        { "beats 5", beats(), 5, "32 beats" },
        { "percent", std::make_shared<PercentSynthParameter>("Sustain", "%", 0, 1, 0.7f), 0.7f, "70%" },
        { "percent 5", std::make_shared<PercentSynthParameter>("Sustain", "%", 0, 1, 0.7f), 0.05f, " 5%" },
        { "integer", std::make_shared<IntegerSynthParameter>("Mode Init", "osc", 0, 100, 10), 42, "42 osc" },
        { "integer negative", std::make_shared<IntegerSynthParameter>("Mode Shift", "osc", -3, 3, 0), -2, "-2 osc" },
        { "real", std::make_shared<SynthParameter>("Attack", "s", 0.01f, 2, 0.2f), 0.2f, "0.20 s" },
        { "real without unit", std::make_shared<SynthParameter>("Falloff", "", -3, 0, -1), -1, "-1.00 " },
        { "sine", wave(), 0, "Sine" },
        { "square", wave(), 1, "Square" },
        { "saw", wave(), 2, "Saw" },
        { "poly", wave(), 3, "Poly" },
        { "son of poly", wave(), 4, "Son of Poly" },
    };
    for (const DisplayCase& c : cases) {
        c.parameter->setValue(c.value);
        EXPECT_EQ(c.parameter->displayText(), c.expected) << c.what;
    }
}

TEST(SynthParameter, WaveOutsideTheNamesReadsEmpty)
{
    WaveSynthParameter unbounded("Wave", "", 0, 9, 0);
    unbounded.setValue(5);
    EXPECT_EQ(unbounded.displayText(), "");
}

struct SetValueCase
{
    const char* what;
    bool integer;
    float x;
    float expected;
};

TEST(SynthParameter, SetValueFloorsIntegersAndClampsEveryValue)
{
    const SetValueCase cases[] = {
        { "integer floors", true, 2.9f, 2 },
        { "integer floors negative", true, -1.5f, -2 },
        { "integer below range", true, -7.2f, -3 },
        { "integer above range", true, 9.9f, 3 },
        { "real keeps fraction", false, 2.9f, 2.9f },
        { "real below range", false, -4, -3 },
        { "real above range", false, 3.5f, 3 },
    };
    for (const SetValueCase& c : cases) {
        std::unique_ptr<SynthParameter> p(c.integer ? new IntegerSynthParameter("I", "", -3, 3, 0)
                                                    : new SynthParameter("R", "", -3, 3, 0));
        p->setValue(c.x);
        EXPECT_FLOAT_EQ(p->value(), c.expected) << c.what;
    }
}

TEST(SynthParameter, NormalizedMappingFloorsForIntegers)
{
    SynthParameter real("R", "", -3, 3, 0);
    IntegerSynthParameter integer("I", "", -3, 3, 0);
    EXPECT_FLOAT_EQ(real.fromNormalized(0.25f), -1.5f);
    EXPECT_FLOAT_EQ(integer.fromNormalized(0.25f), -2.0f);
    EXPECT_FLOAT_EQ(real.toNormalized(1.5f), 0.75f);
    EXPECT_FLOAT_EQ(integer.toNormalized(1.5f), 4.0f / 6.0f);
}

TEST(SynthProgram, FreshProgramHoldsPlainDefaults)
{
    SynthProgram program(3);
    EXPECT_EQ(program.name(), "Unnamed Program");
    ASSERT_EQ(program.numParameters(), 3);
    EXPECT_EQ(program.parameter(2)->name(), "Unnamed Parameter");
    EXPECT_FLOAT_EQ(program.value(2), 0.0f);
}

TEST(SynthProgram, CopyClonesParametersAndKeepsTheirClass)
{
    SynthProgram original(2);
    original.setName("Original");
    original.setParameter(0, new BeatsSynthParameter("Shift Interval", "beats", -5, 5, 1));
    original.setParameter(1, new PercentSynthParameter("Sustain", "%", 0, 1, 0.7f));

    SynthProgram copy(original);
    copy.parameter(0)->setValue(-3.5f); // floored as a beats parameter
    copy.parameter(1)->setValue(0.25f);

    EXPECT_EQ(copy.name(), "Original");
    EXPECT_EQ(copy.parameter(0)->displayText(), "1/16 beats");
    EXPECT_EQ(copy.parameter(1)->displayText(), "25%");
    EXPECT_EQ(original.parameter(0)->displayText(), "2 beats");
    EXPECT_EQ(original.parameter(1)->displayText(), "70%");

    SynthProgram assigned;
    assigned = copy;
    EXPECT_EQ(assigned.parameter(0)->displayText(), "1/16 beats");
}

} // namespace
