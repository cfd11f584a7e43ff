#include "synth/modalvoice.h"

#include "synth/modalmodel.h"

#include <gtest/gtest.h>

namespace {

// Counts mode shifts (one mode added each) over seconds of a voice's life.
int shiftsOver(ModalVoice& voice, double seconds)
{
    const int before = voice.targetCount();
    const int frames = static_cast<int>(seconds * 44100.0);
    for (int i = 0; i < frames; ++i)
        voice.tick();
    return voice.targetCount() - before;
}

TEST(ModalVoice, ShiftsKeepTheirIntervalInANoteHeldForTenMinutes)
{
    ModalModel model;
    model.m_shiftBeats = 0.5f; // 0.25 s at 120 bpm
    model.m_initModes = 0;
    model.m_minModes = 0;
    model.m_maxModes = 100;
    model.m_modeShift = 0;
    ModalVoice voice(&model);
    voice.start(261.6f);
    for (int minute = 0; minute < 10; ++minute)
        shiftsOver(voice, 60.0);

    model.m_modeShift = 1;
    EXPECT_EQ(shiftsOver(voice, 2.0), 8);
    EXPECT_LT(voice.time(), 16.0f);
}

} // namespace
