#include "synth/modalvoice.h"

#include "synth/kelppresetbank.h"
#include "synth/modalmodel.h"

#include <vector>

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

// A voice rendered a block at a time against the same voice ticked frame by
// frame, over every preset of the bank: identical numbers, identical state.
TEST(ModalVoice, BlocksRenderWhatTicksRender)
{
    for (const SynthProgram& program : KelpPresetBank::build()) {
        SCOPED_TRACE(program.name());
        ModalModel model;
        model.applyProgram(program);
        ModalVoice ticked(&model);
        ModalVoice blocked(&model);
        ticked.start(110.0f);
        blocked.start(110.0f);
        std::vector<float> out(512);
        int frame = 0;
        for (int block = 0; frame < 44100; ++block) {
            const int n = (block * 97) % 512 + 1; // uneven blocks
            blocked.renderBlock(out.data(), n);
            for (int i = 0; i < n; ++i) {
                const float expected = ticked.tick();
                ASSERT_EQ(out[i], expected) << "frame " << frame + i;
            }
            frame += n;
        }
        ASSERT_EQ(blocked.activeCount(), ticked.activeCount());
        EXPECT_EQ(blocked.invalidLookups(), ticked.invalidLookups());
        for (int i = 0; i < ModalVoice::kCapacity; ++i) {
            EXPECT_EQ(blocked.amplitude(i), ticked.amplitude(i)) << i;
            EXPECT_EQ(blocked.frequency(i), ticked.frequency(i)) << i;
        }
    }
}

} // namespace
