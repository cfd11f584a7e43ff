#include "instruments/soundfontsynth.h"

#include <fluidsynth.h>

#include <gtest/gtest.h>

namespace {

void countMessage(int, const char*, void* data)
{
    ++*static_cast<int*>(data);
}

// FluidSynth's warnings are quiet from the program's start, and a handler the
// program installs afterwards stays in place however many synths are made.
TEST(SoundFontSynthLog, AHandlerInstalledByTheProgramOutlivesNewSynths)
{
    int warnings = 0;
    EXPECT_EQ(fluid_set_log_function(FLUID_WARN, countMessage, &warnings), nullptr);
    {
        SoundFontSynth first;
        SoundFontSynth second;
    }
    fluid_log(FLUID_WARN, "a warning");
    EXPECT_EQ(warnings, 1);
    EXPECT_EQ(fluid_set_log_function(FLUID_WARN, nullptr, nullptr), &countMessage);
}

} // namespace
