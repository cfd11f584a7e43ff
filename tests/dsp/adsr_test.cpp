#include "dsp/adsr.h"

#include <gtest/gtest.h>

namespace {

struct Step
{
    double dt;
    float expected;
};

float run(ADSR& env, double dt) { return env.advance(dt); }

TEST(ADSR, ClickShapeRisesAndFallsLinearly)
{
    ADSRSettings s { 2205, 2205, 0.0, 1 };
    ADSR env(&s);
    env.noteOn(1.0);
    const Step steps[] = {
        { 0, 0.0f }, { 1102.5, 0.5f }, { 1102.5, 1.0f }, { 1102.5, 0.5f },
        { 1102.5, 0.0f }, { 10000, 0.0f },
    };
    for (const Step& st : steps)
        EXPECT_NEAR(run(env, st.dt), st.expected, 1e-6) << "after dt " << st.dt;
    EXPECT_TRUE(env.isActive()); // sustain 0 still counts as held
}

TEST(ADSR, ZeroLengthAttackIsSkipped)
{
    ADSRSettings s { 0, 100, 0.5, 10 };
    ADSR env(&s);
    env.noteOn(2.0);
    EXPECT_FLOAT_EQ(env.advance(0), 2.0f); // decay starts at full level
    EXPECT_FLOAT_EQ(env.advance(50), 1.5f);
    EXPECT_FLOAT_EQ(env.advance(100), 1.0f); // sustain
}

TEST(ADSR, ReleaseFallsFromLevelReachedAndIsNotRestarted)
{
    ADSRSettings s { 100, 0, 1.0, 100 };
    ADSR env(&s);
    env.noteOn(1.0);
    EXPECT_FLOAT_EQ(env.advance(40), 0.4f);
    env.noteOff();
    EXPECT_FLOAT_EQ(env.advance(50), 0.2f);
    env.noteOff(); // must not reset the release clock
    EXPECT_FLOAT_EQ(env.advance(25), 0.1f);
    EXPECT_TRUE(env.isActive());
    EXPECT_FLOAT_EQ(env.advance(25), 0.0f);
    EXPECT_FALSE(env.isActive());
}

TEST(ADSR, IdleEnvelopeIsSilent)
{
    ADSRSettings s;
    ADSR env(&s);
    EXPECT_FALSE(env.isActive());
    EXPECT_EQ(env.advance(5), 0.0f);
}

} // namespace
