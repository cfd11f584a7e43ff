#include "core/playbackengine.h"
#include "core/recordingengine.h"
#include "qt/audiodevice.h"
#include "support/allocationcounter.h"

#include <gtest/gtest.h>
#include <vector>

namespace {

struct CountingEngine : PlaybackEngine
{
    void process(float* buffer, int numFrames) override
    {
        ++calls;
        frames += numFrames;
        buffer[0] += 0.25f;
    }
    int calls = 0;
    long frames = 0;
};

struct CollectingSink : RecordingEngine
{
    void write(const float* f, int64 numFrames) override
    {
        blocks.push_back(numFrames);
        got.insert(got.end(), f, f + 2 * numFrames);
    }
    std::vector<float> got;
    std::vector<int64> blocks;
};

PaStreamParameters params(int channels)
{
    PaStreamParameters p {};
    p.channelCount = channels;
    p.sampleFormat = paFloat32;
    return p;
}

TEST(AudioDevice, OutputIsClearedThenProcessed)
{
    CountingEngine engine;
    const PaStreamParameters out = params(2);
    AudioDevice dev(&engine, nullptr, &out, nullptr, 44100);
    std::vector<float> buf(2 * 64, 9.0f);
    {
        AllocationCounter counter;
        dev.processBuffer(64, buf.data(), nullptr);
        EXPECT_EQ(counter.count(), 0u);
    }
    EXPECT_EQ(engine.calls, 1);
    EXPECT_EQ(buf[0], 0.25f);
    EXPECT_EQ(buf[127], 0.0f);

    std::vector<float> untouched(4, 9.0f);
    dev.processBuffer(0, untouched.data(), nullptr); // zero frames: neither cleared nor processed
    EXPECT_EQ(untouched[0], 9.0f);
    dev.processBuffer(64, nullptr, nullptr); // input-only callback
    EXPECT_EQ(engine.calls, 1);
}

TEST(AudioDevice, MonoInputBecomesStereoFramesEvenWhenHuge)
{
    CollectingSink sink;
    const PaStreamParameters in = params(1);
    AudioDevice dev(nullptr, &sink, nullptr, &in, 44100);
    const unsigned long n = AudioDevice::MAX_MONO_FRAMES + 5;
    std::vector<float> mono(n);
    for (unsigned long i = 0; i < n; ++i)
        mono[i] = float(i % 100) / 100.0f;
    dev.processBuffer(n, nullptr, mono.data());
    ASSERT_EQ(sink.got.size(), 2 * n);
    EXPECT_EQ(sink.blocks.front(), AudioDevice::MAX_MONO_FRAMES); // passed on in pieces
    for (unsigned long i = 0; i < n; ++i) {
        ASSERT_EQ(sink.got[2 * i], mono[i]);
        ASSERT_EQ(sink.got[2 * i + 1], mono[i]);
    }
}

TEST(AudioDevice, StereoInputPassesThroughAndWideInputIsRefused)
{
    CollectingSink sink;
    const PaStreamParameters stereo = params(2);
    AudioDevice dev(nullptr, &sink, nullptr, &stereo, 44100);
    const float in[] = { 0.1f, 0.2f, 0.3f, 0.4f };
    dev.processBuffer(2, nullptr, in);
    EXPECT_EQ(sink.got, std::vector<float>(in, in + 4));

    const PaStreamParameters wide = params(8);
    AudioDevice wideDev(nullptr, &sink, nullptr, &wide, 44100);
    EXPECT_EQ(wideDev.start(), 1);
}

TEST(AudioDevice, StopWithoutStartSucceeds)
{
    AudioDevice dev(nullptr, nullptr, nullptr, nullptr, 44100);
    EXPECT_EQ(dev.stop(), 0);
}

} // namespace
