#include "core/recordingbuffer.h"
#include "support/allocationcounter.h"
#include "support/setclock.h"

#include <cmath>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

namespace {

TEST(RecordingBuffer, LevelIsRootMeanSquarePerFrame)
{
    SetClock clock;
    clock.m_now = 1000;
    RecordingBuffer rb(clock);
    EXPECT_EQ(rb.level(), 0.0f);
    const float frames[] = { 0.5f, 0.5f, -0.5f, -0.5f };
    rb.write(frames, 2);
    EXPECT_NEAR(rb.level(), std::sqrt(0.5f), 1e-6); // L*L + R*R summed per frame
    clock.m_now += 40000;
    EXPECT_EQ(rb.microsecondsSinceLevel(), 40000);
}

TEST(RecordingBuffer, MixesWhatWasWrittenAndDropsOverflow)
{
    RecordingBuffer rb;
    std::vector<float> in(RecordingBuffer::RING_SAMPLES + 1000);
    for (std::size_t i = 0; i < in.size(); ++i)
        in[i] = static_cast<float>(i % 1000) / 1000.0f;
    rb.write(in.data(), static_cast<int64>(in.size() / 2));

    std::vector<float> out(in.size() + 200, 1.0f);
    {
        AllocationCounter counter;
        rb.mixInto(out.data(), static_cast<int64>(out.size() / 2));
        EXPECT_EQ(counter.count(), 0u);
    }
    for (int i = 0; i < RecordingBuffer::RING_SAMPLES; ++i)
        ASSERT_FLOAT_EQ(out[i], 1.0f + in[i]) << i;
    for (std::size_t i = RecordingBuffer::RING_SAMPLES; i < out.size(); ++i)
        ASSERT_FLOAT_EQ(out[i], 1.0f) << "nothing beyond what fitted " << i;
}

TEST(RecordingBuffer, StaleBacklogGivesWayToTheNewestInput)
{
    // Frame k holds k in both channels.
    const auto frames = [](int first, int count) {
        std::vector<float> v;
        for (int k = first; k < first + count; ++k)
            v.insert(v.end(), { float(k), float(k) });
        return v;
    };
    RecordingBuffer rb;
    std::vector<float> out(2 * 256);

    // A backlog of up to half the ring is what a slower reader leaves: kept.
    const int half = RecordingBuffer::RING_SAMPLES / 4;
    rb.write(frames(0, half).data(), half);
    rb.dropStale(256);
    rb.mixInto(out.data(), 256);
    EXPECT_EQ(out[0], 0.0f);

    // More means the reader stood still: only the newest frames are heard.
    std::vector<float> rest(2 * half);
    rb.mixInto(rest.data(), half);
    const int filled = RecordingBuffer::RING_SAMPLES / 2;
    rb.write(frames(1, filled).data(), filled);
    {
        AllocationCounter counter;
        rb.dropStale(256);
        EXPECT_EQ(counter.count(), 0u);
    }
    std::fill(out.begin(), out.end(), 0.0f);
    rb.mixInto(out.data(), 256);
    EXPECT_EQ(out[0], float(filled - 255));
    EXPECT_EQ(out[511], float(filled));
}

TEST(RecordingBuffer, OneWriterOneReaderKeepOrder)
{
    RecordingBuffer rb;
    // Fewer values than the ring holds, so nothing is dropped however slow the reader is.
    constexpr int kBlocks = 1000, kFrames = 64;
    std::thread writer([&] {
        std::vector<float> block(2 * kFrames);
        for (int b = 0; b < kBlocks; ++b) {
            for (int i = 0; i < 2 * kFrames; ++i)
                block[i] = static_cast<float>(b * 2 * kFrames + i + 1);
            rb.write(block.data(), kFrames);
            std::this_thread::yield();
        }
    });
    std::vector<float> got;
    std::vector<float> out(2 * 100);
    while (got.size() < std::size_t(kBlocks * 2 * kFrames)) {
        std::fill(out.begin(), out.end(), 0.0f);
        rb.mixInto(out.data(), 100);
        for (float v : out)
            if (v != 0.0f) // zero means nothing was available
                got.push_back(v);
        std::this_thread::yield();
    }
    writer.join();
    for (std::size_t i = 0; i < got.size(); ++i)
        ASSERT_EQ(got[i], static_cast<float>(i + 1)) << i;
}

} // namespace
