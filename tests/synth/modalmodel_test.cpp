#include "synth/modalmodel.h"

#include <gtest/gtest.h>

#include <cmath>
#include <set>

namespace {

TEST(ModalModel, NearestRoundsHalvesAwayFromZero)
{
    const std::pair<float, int> cases[] = { { 0.5f, 1 }, { 0.49f, 0 }, { -0.5f, -1 }, { -0.49f, 0 }, { 2.5f, 3 }, { -2.5f, -3 } };
    for (const auto& [x, expected] : cases)
        EXPECT_EQ(ModalModel::nearest(x), expected) << x;
}

TEST(ModalModel, Wavetables)
{
    struct Case
    {
        int wave;
        int k;
        float expected;
    };
    const Case cases[] = {
        { ModalModel::kSine, 256, 1.0f },
        { ModalModel::kSine, 768, -1.0f },
        { ModalModel::kSquare, 511, -1.0f },
        { ModalModel::kSquare, 512, 1.0f },
        { ModalModel::kSaw, 0, -1.0f },
        { ModalModel::kSaw, 512, 0.0f },
        { ModalModel::kSaw, 1023, 2.0f * 1023 / 1024 - 1.0f },
        { ModalModel::kPoly, 0, static_cast<float>(0.3 * std::sin(0.5)) },
        { ModalModel::kSonOfPoly, 0, static_cast<float>(0.1 * std::sin(0.5)) },
    };
    ModalModel model;
    for (const Case& c : cases) {
        model.m_wave = c.wave;
        model.buildWavetable();
        EXPECT_NEAR(model.m_table[c.k], c.expected, 1e-6) << "wave " << c.wave << " entry " << c.k;
    }
}

TEST(ModalModel, CrushQuantisesToPowerOfTwoLevels)
{
    ModalModel model;
    for (int bits = 1; bits <= 8; ++bits) {
        model.m_wave = ModalModel::kSine;
        model.m_crush = bits;
        model.buildWavetable();
        std::set<float> levels(std::begin(model.m_table), std::end(model.m_table));
        EXPECT_EQ(levels.size(), (1u << (bits - 1)) + 1) << bits << " bits";
        EXPECT_EQ(*levels.begin(), -1.0f);
        EXPECT_EQ(*levels.rbegin(), 1.0f);
    }
}

TEST(ModalModel, UnsupportedWaveKeepsTheTable)
{
    ModalModel model;
    model.m_wave = ModalModel::kSaw;
    model.buildWavetable();
    model.m_wave = 9;
    model.buildWavetable();
    EXPECT_FLOAT_EQ(model.m_table[0], -1.0f);
    EXPECT_FLOAT_EQ(model.m_table[512], 0.0f);
}

} // namespace
