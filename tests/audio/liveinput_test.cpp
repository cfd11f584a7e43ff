// Live input end to end on a real JACK server: a test tone played into
// Motifo's input port goes through the live-input instrument, the engine's
// cycle and the output stream, and the page is told the input level. The
// pieces are the application's own: the enumerator, the engine context, the
// output device and the live input that opens the recording device.
#include "support/capturedsignal.h"
#include "core/nativejsbridge.h"
#include "core/recordingbuffer.h"
#include "engine/enginecontext.h"
#include "engine/metronome.h"
#include "engine/offlinesection.h"
#include "engine/transport.h"
#include "engine/zubapi.h"
#include "engine/zubengine.h"
#include "instruments/instrument.h"
#include "loops/idea.h"
#include "loops/ideacollection.h"
#include "loops/loop.h"
#include "jackserver.h"
#include "loopbackclient.h"
#include "qt/audiodevice.h"
#include "qt/audiodeviceenumerator.h"
#include "qt/latencyprobe.h"
#include "qt/liveinput.h"
#include "qt/settings.h"
#include "support/enginetest.h"
#include "support/instrumentlibrary.h"
#include "support/pushedstates.h"
#include "toneclient.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <gtest/gtest.h>
#include <memory>
#include <mutex>

namespace {

using namespace capturedsignal;
using Clock = std::chrono::steady_clock;

constexpr double kToneHz = 440.0;
constexpr float kToneAmplitude = 0.25f;

// What the engine posts to the page, with the time it was posted.
class TimedBridge : public NativeJsBridge
{
public:
    struct Message
    {
        Clock::time_point time;
        std::string text;
    };
    void deliverMessage(std::string message) override { postMessage(std::move(message)); }
    void postMessage(std::string message) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_messages.push_back({ Clock::now(), std::move(message) });
    }
    // The input meter messages posted after `since`.
    std::vector<Message> meters(Clock::time_point since)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        std::vector<Message> found;
        for (const Message& m : m_messages)
            if (m.time > since && m.text.find("input_vu_meter") != std::string::npos)
                found.push_back(m);
        return found;
    }

private:
    std::mutex m_mutex;
    std::vector<Message> m_messages;
};

class LiveInputTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (!JackServer::installed())
            GTEST_SKIP() << "jackd is not installed";
        ASSERT_TRUE(jack.start(serverRate())) << jack.error().toStdString();
        ASSERT_TRUE(tone.start());
        InstrumentLibrary(std::filesystem::current_path().string()).makeStandard();
        Transport::instance().setPosition(0);

        enumerator = std::make_unique<AudioDeviceEnumerator>(); // after jackd is up
        JackServer::chooseAsOutput(*enumerator);
        Settings::instance().setValue("AudioDeviceSampleRate", "44100");

        liveInput = std::make_unique<LiveInput>(enumerator.get());
        context = std::make_unique<EngineContext>(liveInput.get());
        engine()->setJsBridge(&bridge);
        liveInput->setRecordingBuffer(engine()->instrument()->recordingBuffer());
        liveInput->setLatencyProbe(&probe);
        const PaStreamParameters out = enumerator->outputParameters();
        output = std::make_unique<AudioDevice>(engine(), nullptr, &out, nullptr, enumerator->sampleRate());
        // As the application wires it: the output tells the live input when
        // each cycle is heard and plays the measurement's click.
        output->setLiveInput(engine()->instrument()->recordingBuffer());
        output->setLatencyProbe(&probe);
        ASSERT_EQ(output->start(), 0);
        engine()->setAudioInterface(output.get());

        const std::vector<std::string> inputs = liveInput->inputDeviceNames();
        for (std::size_t i = 0; i < inputs.size() && jackInputId < 0; ++i)
            if (inputs[i] == "system")
                jackInputId = 500 + int(i);
        ASSERT_GE(jackInputId, 500) << "PortAudio lists no JACK input";
    }

    void TearDown() override
    {
        // The engine outlives the test, as it outlives the program's objects.
        if (output)
            output->stop();
        if (context) {
            engine()->setAudioInterface(nullptr);
            engine()->setJsBridge(nullptr);
        }
        if (liveInput)
            liveInput->closeRecording();
    }

    virtual int serverRate() const { return 44100; }
    ZubEngine* engine() const { return context->engine(); }

    // Picks an instrument the way the page does.
    void loadInstrument(int id) { context->api()->handleMessage("loadInstrument:" + std::to_string(id)); }

    QStringList inputPorts() const { return jack.ports("motifo:in"); }
    QStringList outputPorts() const { return jack.ports("motifo:out"); }

    // Plays the tone into every input port Motifo has open; returns when.
    Clock::time_point connectTone()
    {
        for (const QString& port : inputPorts())
            EXPECT_EQ(QProcess::execute("jack_connect", { "-s", jack.name(), tone.portName(), port }), 0);
        return Clock::now();
    }

    // The input meter from `since` on: never more often than every 50 ms,
    // and showing the level of the tone.
    void expectMeterShowsTheTone(Clock::time_point since)
    {
        const std::vector<TimedBridge::Message> meters = bridge.meters(since);
        ASSERT_GE(meters.size(), 5u) << "the meter stopped";
        const auto ms = [](Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); };
        // Each interval starts when the level is read, a moment before
        // posting: single intervals get some slack for a busy machine, their
        // mean none.
        for (std::size_t i = 1; i < meters.size(); ++i)
            EXPECT_GT(ms(meters[i].time - meters[i - 1].time), 40.0) << "meter message " << i;
        EXPECT_GE(ms(meters.back().time - meters.front().time) / double(meters.size() - 1), 49.9);
        std::vector<std::string> texts;
        for (const TimedBridge::Message& m : meters) {
            EXPECT_EQ(m.text.rfind("{ \"input_vu_meter\" : { \"value\" : ", 0), 0u) << m.text;
            texts.push_back(m.text);
        }
        // The same tone in both channels: the root mean square per frame is
        // the amplitude.
        for (const Json::Value& meter : pushedStates(texts, "input_vu_meter"))
            EXPECT_NEAR(meter["value"].asDouble(), kToneAmplitude, 0.05 * kToneAmplitude);
    }

    // Records the output for `seconds` and finds the tone in it at its level.
    void expectOutputHoldsTheTone(double seconds)
    {
        const QStringList ports = outputPorts();
        ASSERT_EQ(ports.size(), 2);
        const std::vector<float> recorded = jack.capture(ports, seconds, dir.path());
        ASSERT_GE(recorded.size(), std::size_t(2 * serverRate() * (seconds - 0.2)));
        const std::vector<float> left = channel(recorded, 2, 0);
        EXPECT_NEAR(steadyFrequency(left, serverRate()), kToneHz, 1.0);
        const double expected = outputRms(kToneHz, kToneAmplitude);
        EXPECT_NEAR(rms(left, left.size() / 2), expected, 0.03 * expected);
    }

    // Waits until the engine has played `seconds` more on the server's
    // clock, however long that takes on a busy machine.
    void waitPlayed(double seconds)
    {
        const Transport& transport = *engine()->transport();
        const int64 until = transport.position() + int64(seconds * ZUB_SAMPLE_RATE);
        for (int i = 0; i < 6000 && transport.position() < until; ++i)
            QThread::msleep(10);
        ASSERT_GE(transport.position(), until) << "the engine stopped playing";
    }

    // Both input ports open, the tone played into them is heard at the
    // output for `seconds` and shown on the meter.
    void expectTheToneHeard(double seconds)
    {
        ASSERT_EQ(inputPorts().size(), 2) << inputPorts().join(",").toStdString();
        const Clock::time_point connected = connectTone();
        QThread::msleep(200);
        expectOutputHoldsTheTone(seconds);
        expectMeterShowsTheTone(connected + std::chrono::milliseconds(100));
    }

    EmptyWorkingDirectory workingDirectory; // holds the instrument library
    JackServer jack;
    ToneClient tone { kToneHz, kToneAmplitude };
    QTemporaryDir dir;
    TimedBridge bridge;
    LatencyProbe probe;
    std::unique_ptr<AudioDeviceEnumerator> enumerator;
    std::unique_ptr<LiveInput> liveInput;
    std::unique_ptr<EngineContext> context;
    std::unique_ptr<AudioDevice> output;
    int jackInputId = -1;
};

TEST_F(LiveInputTest, ToneAtTheInputIsHeardAtTheOutputAndOnTheMeter)
{
    loadInstrument(jackInputId);
    Json::Value state;
    engine()->instrument()->toJson(state);
    EXPECT_EQ(state["instrument"]["instrument_type"].asInt(), int(Instrument::InputDevice));
    EXPECT_EQ(state["instrument"]["id"].asInt(), jackInputId);
    EXPECT_EQ(state["instrument"]["name"].asString(), "system");
    ASSERT_NE(liveInput->recordingDevice(), nullptr);
    expectTheToneHeard(2.0);
}

TEST_F(LiveInputTest, ChoosingTheInputAgainReplacesItsStreamAndASampledInstrumentClosesIt)
{
    loadInstrument(jackInputId);
    connectTone();
    const AudioDevice* first = liveInput->recordingDevice();
    ASSERT_NE(first, nullptr);

    loadInstrument(jackInputId);
    // One stream: two writers on the instrument's buffer would garble the tone.
    ASSERT_NE(liveInput->recordingDevice(), nullptr);
    expectTheToneHeard(1.5);

    loadInstrument(1); // the sampled instrument of the library
    EXPECT_EQ(liveInput->recordingDevice(), nullptr);
    EXPECT_TRUE(inputPorts().isEmpty()) << inputPorts().join(",").toStdString();
    Json::Value state;
    engine()->instrument()->toJson(state);
    EXPECT_EQ(state["instrument"]["instrument_type"].asInt(), int(Instrument::Sampled));
    const Clock::time_point closed = Clock::now();
    const std::vector<float> recorded = jack.capture(outputPorts(), 1.0, dir.path());
    ASSERT_FALSE(recorded.empty());
    EXPECT_LT(rms(channel(recorded, 2, 0)), 1e-4) << "the input is still heard";
    EXPECT_TRUE(bridge.meters(closed + std::chrono::milliseconds(100)).empty());
}

// The output stream stands still while a render runs; the input does not.
// What the input wrote meanwhile is stale and must not delay what follows.
TEST_F(LiveInputTest, InputIsHeardWithoutDelayAfterTheOutputStoodStill)
{
    tone.setGate(4410, 4410 * 4); // a beep of a tenth of a second, twice a second
    loadInstrument(jackInputId);
    connectTone();
    const auto delays = [&] {
        QStringList ports = outputPorts();
        ports.prepend(tone.portName());
        const std::vector<float> recorded = jack.capture(ports, 2.0, dir.path());
        const std::vector<long> played = onsets(channel(recorded, 3, 0), 0.01f);
        const std::vector<long> heard = onsets(channel(recorded, 3, 1), 0.01f);
        std::vector<long> found;
        for (long p : played) {
            const auto h = std::lower_bound(heard.begin(), heard.end(), p);
            if (h != heard.end())
                found.push_back(*h - p);
        }
        return found;
    };
    QThread::msleep(200);
    const std::vector<long> before = delays();
    ASSERT_GE(before.size(), 2u);
    for (long d : before)
        EXPECT_LE(d, 1024) << "frames between the tone and its sound at the output";

    {
        OfflineSection render(*engine());
        QThread::msleep(2000);
    }
    QThread::msleep(200);
    const std::vector<long> after = delays();
    ASSERT_GE(after.size(), 2u);
    for (long d : after)
        EXPECT_LE(d, 1024) << "frames between the tone and its sound at the output after the restart";
}

// A server at 48,000 Hz: the input is converted to the engine's rate on the
// way in and back on the way out.
class LiveInputAt48k : public LiveInputTest
{
protected:
    int serverRate() const override { return 48000; }
};

TEST_F(LiveInputAt48k, ToneIsHeardAndRecordedIntoALoopAtItsOwnPitch)
{
    loadInstrument(jackInputId);
    context->api()->handleMessage("{ \"loop_recorder\" : { \"beats\" : 2 } }"); // one second at 120 bpm
    expectTheToneHeard(1.0);
    context->api()->handleMessage("{ \"loop_recorder\" : { \"record\" : true } }");
    // Longer than the loop on the server's clock: every frame of it recorded.
    // (What plays meanwhile is the tone twice: as it comes in, and as it
    // was recorded a loop ago, each in its own phase.)
    waitPlayed(1.5);
    context->api()->handleMessage("{ \"loop_recorder\" : { \"record\" : false } }");
    ASSERT_EQ(engine()->createLoopFromLoopRecorder(), 0);

    const std::vector<std::shared_ptr<Loop>> loops = engine()->ideaCollection()->activeIdea()->loops();
    ASSERT_EQ(loops.size(), 1u);
    const std::vector<float> recorded(loops[0]->data(), loops[0]->data() + 2 * loops[0]->numFrames());
    ASSERT_EQ(recorded.size(), 2u * 44100u);
    EXPECT_NEAR(steadyFrequency(channel(recorded, 2, 0)), kToneHz, 1.0);
    EXPECT_GT(rms(channel(recorded, 2, 1)), 0.5 * kToneAmplitude);
}

// An interface's round trip stands between Motifo's output and its input:
// the loopback client. The metronome's clicks come back through it; recorded
// from the input into a loop, each must sit on its beat.
class RoundTrip : public LiveInputAt48k
{
protected:
    static constexpr int kDelayFrames = 1000; // of the server's 48,000 a second
    static constexpr int kPeriod = 256;

    // Lets go of the server's own ports, which PortAudio connects to.
    void disconnectServerPorts()
    {
        const QStringList outs = outputPorts();
        const QStringList ins = inputPorts();
        for (int i = 0; i < outs.size(); ++i)
            QProcess::execute("jack_disconnect", { "-s", jack.name(), outs[i], "system:playback_" + QString::number(i + 1) });
        for (int i = 0; i < ins.size(); ++i)
            QProcess::execute("jack_disconnect", { "-s", jack.name(), "system:capture_" + QString::number(i + 1), ins[i] });
    }

    // Motifo's output goes to the loopback and comes back as its input.
    void loopThrough(const LoopbackClient& loopback)
    {
        disconnectServerPorts();
        QProcess::execute("jack_connect", { "-s", jack.name(), outputPorts().value(0), loopback.inputPort() });
        for (const QString& port : inputPorts())
            QProcess::execute("jack_connect", { "-s", jack.name(), loopback.outputPort(), port });
    }

    // Records two bars of clicks into a one-bar loop and finds where each
    // click starts, in frames from the nearest beat.
    std::vector<long> recordedClickOffsets()
    {
        context->api()->handleMessage("{ \"metronome\" : { \"mute\" : false } }");
        context->api()->handleMessage("{ \"loop_recorder\" : { \"beats\" : 2 } }");
        context->api()->handleMessage("{ \"loop_recorder\" : { \"record\" : true } }");
        waitPlayed(2.5);
        context->api()->handleMessage("{ \"loop_recorder\" : { \"record\" : false } }");
        context->api()->handleMessage("{ \"metronome\" : { \"mute\" : true } }");
        EXPECT_EQ(engine()->createLoopFromLoopRecorder(), 0);
        const std::vector<std::shared_ptr<Loop>> loops = engine()->ideaCollection()->activeIdea()->loops();
        if (loops.empty())
            return {};
        const Loop& loop = *loops.back();
        const std::vector<float> left = channel(std::vector<float>(loop.data(), loop.data() + 2 * loop.numFrames()), 2, 0);
        // Each beat's click, against the click as the metronome plays it.
        constexpr long kBeat = 22050; // 120 bpm
        Metronome metronome;
        const long played = riseFrame(channel(std::vector<float>(metronome.clickTable(), metronome.clickTable() + 2 * 4410), 2, 0));
        std::vector<long> offsets;
        for (long beat = 0; beat < long(left.size()); beat += kBeat) {
            // From half a beat before to half a beat after, around the loop.
            std::vector<float> around;
            for (long i = beat - kBeat / 2; i < beat + kBeat / 2; ++i)
                around.push_back(left[std::size_t((i + long(left.size())) % long(left.size()))]);
            offsets.push_back(riseFrame(around) - kBeat / 2 - played);
        }
        return offsets;
    }

    // Where a click first reaches a tenth of its peak; what comes back of
    // it after a round trip is quieter than that.
    static long riseFrame(const std::vector<float>& mono)
    {
        float peak = 0.0f;
        for (float v : mono)
            peak = std::max(peak, std::fabs(v));
        for (std::size_t i = 0; i < mono.size(); ++i)
            if (std::fabs(mono[i]) >= 0.1f * peak)
                return long(i);
        return 0;
    }

    void expectOnTheBeat(const std::vector<long>& offsets)
    {
        ASSERT_EQ(offsets.size(), 2u) << "one click on each beat of the loop";
        for (long off : offsets)
            EXPECT_LE(std::abs(off), 44) << "frames from the beat (1 ms is 44)";
    }
};

TEST_F(RoundTrip, DeclaredLatencyPutsRecordedClicksOnTheBeat)
{
    LoopbackClient loopback(kDelayFrames, true);
    ASSERT_TRUE(loopback.start());
    loadInstrument(jackInputId);
    loopThrough(loopback);
    expectOnTheBeat(recordedClickOffsets());
}

TEST_F(RoundTrip, MeasuredLatencyFindsWhatIsNotDeclaredAndTheNextRecordingUsesIt)
{
    LoopbackClient loopback(kDelayFrames, false);
    ASSERT_TRUE(loopback.start());
    loadInstrument(jackInputId);
    loopThrough(loopback);
    const QString input = liveInput->openEntryName();
    ASSERT_FALSE(input.isEmpty());

    double seconds = 0.0;
    QString why;
    ASSERT_TRUE(liveInput->measureLatency(input, seconds, why)) << why.toStdString();
    // The client's delay and the period it runs apart from Motifo.
    EXPECT_NEAR(seconds, double(kDelayFrames + kPeriod) / serverRate(), 0.001);
    LiveInput::setCorrectionMs(input, seconds * 1000.0);
    liveInput->applyCorrection();
    // The measuring click may still be on its way round (the loopback, the
    // input's buffer): recorded now, it would land beside a beat.
    waitPlayed(0.5);
    expectOnTheBeat(recordedClickOffsets());
}

TEST_F(RoundTrip, MeasuringWithNothingConnectedSaysSo)
{
    loadInstrument(jackInputId);
    disconnectServerPorts();
    double seconds = 0.0;
    QString why;
    EXPECT_FALSE(liveInput->measureLatency(liveInput->openEntryName(), seconds, why));
    EXPECT_TRUE(why.contains("did not come back")) << why.toStdString();
    // Given up: a sound that comes in later is no answer, and an output
    // that plays again plays no click.
    const std::vector<float> loud(512, 0.9f);
    probe.listen(loud.data(), 256, 2, 10.0, 44100.0);
    EXPECT_FALSE(probe.result(seconds));
    std::vector<float> out(512, 0.0f);
    probe.play(out.data(), 256, 10.0);
    EXPECT_EQ(*std::max_element(out.begin(), out.end()), 0.0f);
}

} // namespace
