// Motifo's output through PortAudio's JACK host API on a real JACK server,
// recorded with jack_capture.
#include "engine/enginecontext.h"
#include "engine/transport.h"
#include "engine/zubapi.h"
#include "engine/zubengine.h"
#include "jackserver.h"
#include "qt/audiodevice.h"
#include "qt/audiodeviceenumerator.h"
#include "instruments/instrument.h"
#include "qt/settings.h"
#include "support/capturedsignal.h"
#include "support/enginetest.h"
#include "support/instrumentlibrary.h"

#include <QProcess>
#include <QTemporaryDir>
#include <cmath>
#include <gtest/gtest.h>

namespace {

// Frames (of the left channel) where a click starts: the first clearly
// audible sample after a long silence. A recording that starts inside a
// click (jack_capture begins at whatever frame the server is at) has not
// heard that silence: its first sound is no onset.
std::vector<long> clickOnsets(const std::vector<float>& interleaved)
{
    std::vector<long> onsets;
    long lastSound = 0;
    for (std::size_t i = 0; i < interleaved.size() / 2; ++i) {
        if (std::fabs(interleaved[2 * i]) > 1e-3f) {
            if (long(i) - lastSound > 1000)
                onsets.push_back(long(i));
            lastSound = long(i);
        }
    }
    return onsets;
}

void expectSpacing(const std::vector<long>& onsets, long spacing, std::size_t atLeast)
{
    ASSERT_GE(onsets.size(), atLeast);
    for (std::size_t i = 1; i < onsets.size(); ++i)
        EXPECT_EQ(onsets[i] - onsets[i - 1], spacing) << "between clicks " << i - 1 << " and " << i;
}

TEST(JackOutput, MetronomeClicksArriveOnTheBeat)
{
    JackServer jack;
    if (!JackServer::installed())
        GTEST_SKIP() << "jackd is not installed";
    ASSERT_TRUE(jack.start()) << jack.error().toStdString();

    AudioDeviceEnumerator enumerator; // initialises PortAudio after jackd is up
    ASSERT_FALSE(JackServer::chooseAsOutput(enumerator).isEmpty()) << "PortAudio lists no JACK output";
    Settings::instance().setValue("AudioDeviceSampleRate", "44100");

    EngineContext context(nullptr);
    const PaStreamParameters out = enumerator.outputParameters();
    AudioDevice device(context.engine(), nullptr, &out, nullptr, enumerator.sampleRate());
    ASSERT_EQ(device.start(), 0);
    context.api()->handleMessage("{ \"metronome\" : { \"mute\" : false } }");

    QTemporaryDir dir;
    QStringList ports = jack.ports("motifo:");
    ASSERT_EQ(ports.size(), 2);
    expectSpacing(clickOnsets(jack.capture(ports, 2.0, dir.path())), 22050, 3);

    context.api()->handleMessage("setTempo->90");
    expectSpacing(clickOnsets(jack.capture(ports, 2.5, dir.path())), 29400, 3);

    // Stopping and starting again opens a fresh stream and audio continues.
    ASSERT_EQ(device.stop(), 0);
    ASSERT_EQ(device.start(), 0);
    ports = jack.ports("motifo:"); // a new stream registers new ports
    ASSERT_EQ(ports.size(), 2);
    expectSpacing(clickOnsets(jack.capture(ports, 1.5, dir.path())), 29400, 2);
    EXPECT_EQ(device.stop(), 0);
}

// Device numbers move when devices come and go: the stored name and host API
// find the output (and what Preferences pre-selects), and a device that is
// gone is named as missing.
TEST(JackOutput, StoredOutputIsFoundByNameWhenItsNumberMoved)
{
    JackServer jack;
    if (!JackServer::installed())
        GTEST_SKIP() << "jackd is not installed";
    ASSERT_TRUE(jack.start()) << jack.error().toStdString();
    AudioDeviceEnumerator enumerator;
    const QString jackEntry = JackServer::chooseAsOutput(enumerator);
    ASSERT_TRUE(jackEntry.contains("(JACK Audio Connection Kit)")) << jackEntry.toStdString();
    const int index = AudioDeviceEnumerator::parseDeviceIndex(jackEntry);
    Settings::instance().setValue("AudioDevice",
        QString::number(index + 1) + ". " + AudioDeviceEnumerator::nameAndHost(jackEntry));
    EXPECT_EQ(enumerator.outputDeviceIndex(), index);
    EXPECT_EQ(enumerator.currentOutputEntry(), jackEntry);
    EXPECT_TRUE(enumerator.missingOutput().isEmpty());

    Settings::instance().setValue("AudioDevice", QString::number(index) + ". Interface Nobody Has (ALSA)");
    EXPECT_EQ(enumerator.missingOutput(), "Interface Nobody Has (ALSA)");
}

// JACK and PipeWire servers often run at 48,000 Hz or more. The engine keeps
// 44,100 Hz inside; what the server plays keeps its tempo and pitch. The
// stored rate is the engine's, which the server refuses.
TEST(JackOutput, TempoAndPitchHoldAtTheServersRate)
{
    if (!JackServer::installed())
        GTEST_SKIP() << "jackd is not installed";
    EmptyWorkingDirectory workingDirectory;
    InstrumentLibrary(std::filesystem::current_path().string()).makeStandard(); // a 440 Hz sine at key 60
    for (int rate : { 48000, 96000 }) {
        SCOPED_TRACE(rate);
        JackServer jack;
        ASSERT_TRUE(jack.start(rate)) << jack.error().toStdString();
        AudioDeviceEnumerator enumerator;
        JackServer::chooseAsOutput(enumerator);
        Settings::instance().setValue("AudioDeviceSampleRate", "44100");

        EngineContext context(nullptr);
        context.engine()->instrument()->waitForLoad();
        const PaStreamParameters out = enumerator.outputParameters();
        AudioDevice device(context.engine(), nullptr, &out, nullptr, enumerator.sampleRate());
        ASSERT_EQ(device.start(), 0) << device.lastError().toStdString();
        EXPECT_EQ(device.deviceRate(), rate);
        context.api()->handleMessage("{ \"metronome\" : { \"mute\" : false } }");

        QTemporaryDir dir;
        const QStringList ports = jack.ports("motifo:");
        ASSERT_EQ(ports.size(), 2);
        const std::vector<long> clicks = clickOnsets(jack.capture(ports, 2.5, dir.path()));
        ASSERT_GE(clicks.size(), 3u);
        for (std::size_t i = 1; i < clicks.size(); ++i)
            EXPECT_NEAR(clicks[i] - clicks[i - 1], rate / 2, 1) << "between clicks " << i - 1 << " and " << i;

        context.api()->handleMessage("{ \"metronome\" : { \"mute\" : true } }");
        std::vector<float> tone = capturedsignal::channel(
            jack.capture(ports, 0.5, dir.path(), [&] { context.engine()->noteOn(60, 100); }), 2, 0);
        context.engine()->noteOff(60);
        // From a hundredth of a second after the note starts, for a fifth:
        // the sample's sine lasts a second.
        const std::vector<long> started = capturedsignal::onsets(tone, 0.1f);
        ASSERT_FALSE(started.empty());
        tone.erase(tone.begin(), tone.begin() + started.front() + rate / 100);
        ASSERT_GE(tone.size(), std::size_t(rate / 5));
        tone.resize(rate / 5);
        EXPECT_NEAR(capturedsignal::steadyFrequency(tone, rate), 440.0, 1.0);
        EXPECT_EQ(device.stop(), 0);
    }
}

// JACK can change its period while everything runs. The clicks go on, each
// a beat after the last, through the change and after it.
TEST(JackOutput, APeriodChangedWhilePlayingKeepsTheBeat)
{
    if (!JackServer::installed())
        GTEST_SKIP() << "jackd is not installed";
    for (int rate : { 44100, 48000 }) {
        SCOPED_TRACE(rate);
        JackServer jack;
        ASSERT_TRUE(jack.start(rate, 256)) << jack.error().toStdString();
        AudioDeviceEnumerator enumerator;
        JackServer::chooseAsOutput(enumerator);
        EngineContext context(nullptr);
        const PaStreamParameters out = enumerator.outputParameters();
        AudioDevice device(context.engine(), nullptr, &out, nullptr, rate);
        ASSERT_EQ(device.start(), 0) << device.lastError().toStdString();
        context.api()->handleMessage("{ \"metronome\" : { \"mute\" : false } }");

        QTemporaryDir dir;
        const QStringList ports = jack.ports("motifo:");
        ASSERT_EQ(ports.size(), 2);
        int changed = -1;
        const std::vector<long> clicks = clickOnsets(jack.capture(ports, 3.0, dir.path(), [&] {
            changed = QProcess::execute("jack_bufsize", { "1024" }); // the server of JACK_DEFAULT_SERVER
        }));
        EXPECT_EQ(changed, 0) << "jack_bufsize failed";
        ASSERT_GE(clicks.size(), 5u);
        for (std::size_t i = 1; i < clicks.size(); ++i)
            EXPECT_NEAR(clicks[i] - clicks[i - 1], rate / 2, 1) << "between clicks " << i - 1 << " and " << i;
        EXPECT_EQ(device.stop(), 0);
    }
}

} // namespace
