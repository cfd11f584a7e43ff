// Live input: a tone played into Motifo's input on a real JACK server reaches
// the live-input buffer through the enumerator's input parameters.
#include "core/recordingbuffer.h"
#include "jackserver.h"
#include "qt/audiodevice.h"
#include "qt/audiodeviceenumerator.h"
#include "qt/settings.h"
#include "toneclient.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QThread>
#include <cmath>
#include <gtest/gtest.h>

namespace {

// Frequency of the loud stretches of a mono signal, from zero crossings.
double toneFrequency(const std::vector<float>& left)
{
    int crossings = 0;
    long frames = 0;
    for (std::size_t i = 1; i < left.size(); ++i) {
        if (std::fabs(left[i]) < 1e-4f && std::fabs(left[i - 1]) < 1e-4f)
            continue; // between beeps
        ++frames;
        if ((left[i - 1] < 0.0f) != (left[i] < 0.0f))
            ++crossings;
    }
    return frames > 0 ? crossings / 2.0 * 44100.0 / double(frames) : 0.0;
}

TEST(JackInput, ToneReachesTheLiveInputBuffer)
{
    JackServer jack;
    if (!JackServer::installed())
        GTEST_SKIP() << "jackd is not installed";
    ASSERT_TRUE(jack.start()) << jack.error().toStdString();

    // A long 440 Hz beep twice a second; the port exists once start() returns.
    ToneClient tone { 440.0, 0.5f };
    ASSERT_TRUE(tone.start());
    tone.setGate(17640, 4410);

    AudioDeviceEnumerator enumerator;
    const std::vector<std::string> inputs = enumerator.inputDeviceNames();
    int position = -1;
    for (std::size_t i = 0; i < inputs.size(); ++i)
        if (inputs[i] == "system")
            position = int(i);
    ASSERT_GE(position, 0) << "PortAudio lists no JACK input";
    const int index = enumerator.inputDeviceIndex(position);
    const PaStreamParameters in = enumerator.inputParameters(index);
    EXPECT_EQ(in.device, index);
    EXPECT_EQ(in.channelCount, 2);
    Settings::instance().setValue("AudioDeviceSampleRate", "44100");

    RecordingBuffer buffer;
    AudioDevice device(nullptr, &buffer, nullptr, &in, enumerator.sampleRate());
    ASSERT_EQ(device.start(), 0);
    QStringList motifoIn = jack.ports("motifo:");
    ASSERT_EQ(motifoIn.size(), 2) << motifoIn.join(",").toStdString();
    for (const QString& port : motifoIn)
        ASSERT_EQ(QProcess::execute("jack_connect", { "-s", jack.name(), tone.portName(), port }), 0);

    // Read what the input thread wrote, as the output cycle would.
    std::vector<float> left;
    float loudest = 0.0f;
    // mixInto adds only the frames that have arrived; an offset that is
    // exact in float marks the frames it did not touch.
    constexpr float kUntouched = 4.0f;
    float block[2 * 512];
    QElapsedTimer t;
    t.start();
    while (left.size() < 44100 && t.elapsed() < 10000) {
        QThread::msleep(5);
        std::fill(std::begin(block), std::end(block), kUntouched);
        buffer.mixInto(block, 512);
        int delivered = 512;
        while (delivered > 0 && block[2 * delivered - 2] == kUntouched && block[2 * delivered - 1] == kUntouched)
            --delivered;
        for (int i = 0; i < delivered; ++i)
            left.push_back(block[2 * i] - kUntouched);
        loudest = std::max(loudest, buffer.level());
    }
    EXPECT_EQ(device.stop(), 0);

    ASSERT_GE(left.size(), 22050u) << "too little input arrived";
    EXPECT_GT(loudest, 0.05f);
    EXPECT_NEAR(toneFrequency(left), 440.0, 15.0);
}

} // namespace
