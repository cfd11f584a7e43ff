#include "synth/modalvoice.h"

#include "synth/kelppresetbank.h"
#include "synth/modalmodel.h"
#include "synth/synthrender.h"

#include <algorithm>
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

// Uneven blocks of up to 512 frames over one second.
template <class Render>
void inUnevenBlocks(Render render)
{
    int frame = 0;
    for (int block = 0; frame < 44100; ++block) {
        const int n = (block * 97) % 512 + 1;
        render(frame, n);
        frame += n;
    }
}

void expectSameModes(const ModalVoice& actual, const ModalVoice& expected)
{
    ASSERT_EQ(actual.activeCount(), expected.activeCount());
    EXPECT_EQ(actual.invalidLookups(), expected.invalidLookups());
    for (int i = 0; i < ModalVoice::kCapacity; ++i) {
        EXPECT_EQ(actual.amplitude(i), expected.amplitude(i)) << i;
        EXPECT_EQ(actual.frequency(i), expected.frequency(i)) << i;
    }
}

// A voice rendered a block at a time by the SSE2 kernel against the same
// voice ticked frame by frame, over every preset of the bank: identical
// numbers, identical state.
TEST(ModalVoice, BlocksRenderWhatTicksRender)
{
    for (const SynthProgram& program : KelpPresetBank::build()) {
        SCOPED_TRACE(program.name());
        ModalModel model;
        model.applyProgram(program);
        model.m_pKernel = &ModalKernel::sse2();
        ModalVoice ticked(&model);
        ModalVoice blocked(&model);
        ticked.start(110.0f);
        blocked.start(110.0f);
        std::vector<float> out(512);
        inUnevenBlocks([&](int frame, int n) {
            blocked.renderBlock(out.data(), n);
            for (int i = 0; i < n; ++i) {
                const float expected = ticked.tick();
                ASSERT_EQ(out[i], expected) << "frame " << frame + i;
            }
        });
        expectSameModes(blocked, ticked);
    }
}

// The AVX2 kernel (eight modes at a time, the last group partly empty) on
// the same input as the SSE2 kernel: the modes move identically and the
// sound differs only by the order of its sums.
TEST(ModalVoice, WideKernelRendersWhatTheSse2KernelRenders)
{
    const ModalKernel* wide = ModalKernel::avx2();
    if (!wide)
        GTEST_SKIP() << "this processor has no AVX2 with FMA";
    for (const SynthProgram& program : KelpPresetBank::build()) {
        SCOPED_TRACE(program.name());
        ModalModel narrowModel;
        ModalModel wideModel;
        narrowModel.applyProgram(program);
        wideModel.applyProgram(program);
        narrowModel.m_pKernel = &ModalKernel::sse2();
        wideModel.m_pKernel = wide;
        ModalVoice narrow(&narrowModel);
        ModalVoice wider(&wideModel);
        narrow.start(110.0f);
        wider.start(110.0f);
        std::vector<float> expected(44100);
        std::vector<float> actual(44100);
        inUnevenBlocks([&](int frame, int n) {
            n = std::min(n, 44100 - frame);
            narrow.renderBlock(expected.data() + frame, n);
            wider.renderBlock(actual.data() + frame, n);
        });
        expectSameModes(wider, narrow);
        if (rms(expected) > 0.0f)
            EXPECT_LE(normalizedSquaredError(actual, expected), 1e-9);
        else
            EXPECT_EQ(rms(actual), 0.0f);
    }
}

} // namespace
