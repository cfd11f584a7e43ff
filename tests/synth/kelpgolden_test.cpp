// The modal synth against recorded output: a short performance on presets
// that between them glide, shift modes up and down, drop and peel pitch, and
// trim fading modes. The SSE2 kernel must leave these numbers as they are, to
// the bit; a wider kernel, which sums in another order, must stay within a
// tolerance that a real change of sound exceeds by far.
// MOTIFO_GOLDEN=1 rewrites the files on purpose (review them as a diff).
#include "synth/kelpsynthengine.h"

#include "synth/synthrender.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace {

constexpr int kGoldenFrames = 17640; // 0.4 s
// Normalized squared error a wider kernel may show: 90 dB below the signal.
// Summing in another order stays near 1e-14; the performance a cent sharp,
// or with Parity moved by 0.05, lands above 1e-6.
constexpr double kWideTolerance = 1e-9;
// Host buffers of uneven sizes, so events and shifts fall anywhere in a block.
constexpr int kBlockSizes[] = { 64, 256, 37, 128, 512, 1 };

std::string goldenPath(const std::string& preset)
{
    std::string name;
    for (char c : preset)
        name += c == ' ' ? '_' : static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return std::string(MOTIFO_SOURCE_DIR) + "/tests/synth/golden/" + name + ".f32";
}

int programIndex(const KelpSynthEngine& engine, const std::string& name)
{
    for (int i = 0; i < engine.numPrograms(); ++i)
        if (engine.program(i).name() == name)
            return i;
    return -1;
}

// Chords struck, a note restruck, notes released, all of it mid-block.
std::vector<float> perform(const std::string& preset, const ModalKernel& kernel, float bend = 0.0f)
{
    KelpSynthEngine engine;
    engine.useKernel(kernel);
    engine.setProgram(programIndex(engine, preset));
    engine.setPitchBend(bend);
    std::vector<float> left(kGoldenFrames), right(kGoldenFrames);
    int frame = 0;
    for (int block = 0; frame < kGoldenFrames; ++block) {
        switch (block) {
        case 0:
            for (int note : { 36, 48, 55, 60, 64, 67, 72, 79 })
                engine.noteOn(note, 100, 0);
            break;
        case 20:
            engine.noteOn(84, 127, 3);
            engine.noteOff(55, 0);
            break;
        case 40:
            engine.noteOff(36, 0);
            engine.noteOn(36, 64, 0);
            engine.pitchBend(0.25f, 5);
            break;
        case 60:
            engine.allNotesOff();
            break;
        case 70:
            engine.noteOn(91, 100, 0);
            break;
        default:
            break;
        }
        const int n = std::min(kBlockSizes[block % std::size(kBlockSizes)], kGoldenFrames - frame);
        float* outputs[2] = { left.data() + frame, right.data() + frame };
        engine.process(outputs, outputs, n);
        frame += n;
    }
    return left;
}

std::vector<float> readGolden(const std::string& preset)
{
    std::vector<float> golden(kGoldenFrames);
    std::ifstream in(goldenPath(preset), std::ios::binary);
    if (!in.read(reinterpret_cast<char*>(golden.data()), std::streamsize(golden.size() * sizeof(float))))
        golden.clear();
    return golden;
}

class KelpGolden : public ::testing::TestWithParam<const char*> { };

TEST_P(KelpGolden, RendersTheRecordedNumbers)
{
    const std::string preset = GetParam();
    const std::vector<float> out = perform(preset, ModalKernel::sse2());
    ASSERT_GT(rms(out), 1e-3f) << "the performance must sound";
    const std::string path = goldenPath(preset);
    if (std::getenv("MOTIFO_GOLDEN")) {
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(out.data()), std::streamsize(out.size() * sizeof(float)));
        GTEST_SKIP() << "rewrote " << path;
    }
    const std::vector<float> golden = readGolden(preset);
    ASSERT_EQ(golden.size(), out.size()) << "missing " << path;
    int differing = 0;
    for (int i = 0; i < kGoldenFrames; ++i) {
        if (out[i] != golden[i] && differing++ < 5)
            ADD_FAILURE() << "frame " << i << ": " << out[i] << " instead of " << golden[i];
    }
    EXPECT_EQ(differing, 0);
}

TEST_P(KelpGolden, WideKernelRendersTheRecordedSound)
{
    const ModalKernel* wide = ModalKernel::avx2();
    if (!wide)
        GTEST_SKIP() << "this processor has no AVX2 with FMA";
    const std::string preset = GetParam();
    const std::vector<float> golden = readGolden(preset);
    ASSERT_EQ(golden.size(), std::size_t(kGoldenFrames)) << "missing " << goldenPath(preset);
    EXPECT_LE(normalizedSquaredError(perform(preset, *wide), golden), kWideTolerance);
    // The tolerance tells a real change: the same performance a cent sharp.
    EXPECT_GT(normalizedSquaredError(perform(preset, *wide, 1.0f / 1200.0f), golden), 1000 * kWideTolerance);
}

INSTANTIATE_TEST_SUITE_P(Presets, KelpGolden,
    ::testing::Values("Default", "Crystal Strings", "Dubstep Handgun", "Bass Whips", "OMG CRAX", "Pinball Lasers"),
    [](const auto& info) {
        std::string name;
        for (const char* p = info.param; *p; ++p)
            if (std::isalnum(static_cast<unsigned char>(*p)))
                name += *p;
        return name;
    });

} // namespace
