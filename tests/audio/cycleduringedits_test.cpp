// The audio cycle never waits on a big copy: while the engine plays through
// PortAudio on a realtime JACK server, making a long loop and saving a song
// go on beside it and every cycle stays well inside its period. A trivial
// JACK client on the same server shows, in the log, what the machine costs.
#include "engine/enginecontext.h"
#include "engine/project.h"
#include "engine/songfiles.h"
#include "engine/zubapi.h"
#include "engine/zubengine.h"
#include "jackserver.h"
#include "loops/idea.h"
#include "loops/ideacollection.h"
#include "loops/loop.h"
#include "loops/looprecorder.h"
#include "qt/audiodevice.h"
#include "qt/audiodeviceenumerator.h"
#include "qt/autosave.h"
#include "qt/settings.h"
#include "toneclient.h"

#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <memory>

namespace {

constexpr int kPeriod = 256;

class CycleDuringEdits : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (!JackServer::installed())
            GTEST_SKIP() << "jackd is not installed";
        ASSERT_TRUE(m_jack.start(44100, kPeriod, JackServer::Realtime)) << m_jack.error().toStdString();
        m_enumerator = std::make_unique<AudioDeviceEnumerator>(); // PortAudio sees the server
        ASSERT_FALSE(JackServer::chooseAsOutput(*m_enumerator).isEmpty()) << "PortAudio lists no JACK output";
        Settings::instance().setValue("AudioDeviceSampleRate", "44100");
        m_context = std::make_unique<EngineContext>(nullptr);
        const PaStreamParameters out = m_enumerator->outputParameters();
        m_device = std::make_unique<AudioDevice>(engine(), nullptr, &out, nullptr, m_enumerator->sampleRate());
        ASSERT_EQ(m_device->start(), 0);
        ASSERT_TRUE(m_trivial.start("trivial"));
    }
    void TearDown() override
    {
        if (m_device)
            m_device->stop();
    }

    ZubEngine* engine() const { return m_context->engine(); }
    void send(const std::string& message) { m_context->api()->handleMessage(message); }

    // Waits, on the server's clock, until the engine has run n more cycles.
    void waitCycles(int64 n)
    {
        const int64 target = engine()->cycleMeter().cycles() + n;
        for (int i = 0; i < 2000 && engine()->cycleMeter().cycles() < target; ++i)
            QThread::msleep(5);
        ASSERT_GE(engine()->cycleMeter().cycles(), target) << "the engine stopped cycling";
    }
    // From here on the meter keeps the largest cycle of what the test does.
    void startMeasuring()
    {
        waitCycles(100); // past start-up and what the test set up
        const int64 before = engine()->cycleMeter().cycles();
        engine()->cycleMeter().reset();
        for (int i = 0; i < 2000 && engine()->cycleMeter().cycles() >= before; ++i)
            QThread::msleep(5);
        m_xrunsBefore = m_jack.xruns("motifo");
        m_trivialXrunsBefore = m_jack.xruns("trivial");
        m_serverCyclesBefore = m_trivial.cycles();
        m_cyclesBefore = engine()->cycleMeter().cycles();
    }
    // The cycles the server ran since startMeasuring, counted by the trivial
    // client: a loaded machine that wakes the server late runs fewer of them
    // than the wall clock would have it, and the engine is not to blame.
    double expectedCycles() const { return double(m_trivial.cycles() - m_serverCyclesBefore); }
    // The meter times every cycle from entry to return, so a wait on a lock or
    // a copy shows there. Xruns are only reported: on a loaded machine the
    // dummy driver wakes late and JACK blames the first client in the graph,
    // whose cycle was short.
    void expectShortCycles()
    {
        const CycleMeter& meter = engine()->cycleMeter();
        std::cout << "largest cycle: " << meter.maxFraction() << " of the period (CPU " << meter.maxCpuFraction()
                  << "), " << meter.maxNanoseconds() / 1000 << " us" << std::endl;
        EXPECT_LT(meter.maxFraction(), 0.5) << "a cycle waited; its CPU time was " << meter.maxCpuFraction();
        std::cout << "xruns: motifo " << m_jack.xruns("motifo") - m_xrunsBefore << ", trivial client "
                  << m_jack.xruns("trivial") - m_trivialXrunsBefore << std::endl;
    }

    JackServer m_jack;
    std::unique_ptr<AudioDeviceEnumerator> m_enumerator;
    std::unique_ptr<EngineContext> m_context;
    std::unique_ptr<AudioDevice> m_device;
    ToneClient m_trivial { 440.0, 0.01f };
    int m_xrunsBefore = 0;
    int m_trivialXrunsBefore = 0;
    int64 m_cyclesBefore = 0;
    long m_serverCyclesBefore = 0;
};

TEST_F(CycleDuringEdits, MakingTheLongestLoopKeepsEveryCycleShort)
{
    // The recorder's largest buffer: 64 beats at 30 bpm, 128 seconds.
    send("setTempo->30");
    send("{ \"loop_recorder\" : { \"beats\" : 64, \"record\" : true } }");
    LoopRecorder* recorder = engine()->loopRecorder();
    ASSERT_EQ(recorder->numBeats(), 64);
    ASSERT_EQ(recorder->lengthFrames(), 128 * 44100);
    engine()->noteOn(60, 100);
    waitCycles(50);
    engine()->noteOff(60);

    // Something audible each time: an empty recorder is not kept.
    std::vector<float> played;
    startMeasuring();
    for (int i = 0; i < 3; ++i) {
        played.assign(2 * 256, 0.1f); // recording takes it out of the buffer
        recorder->record(played.data(), 256);
        ASSERT_EQ(engine()->createLoopFromLoopRecorder(), 0);
        waitCycles(20);
    }
    expectShortCycles();
    EXPECT_GT(engine()->cycleMeter().cycles() - m_cyclesBefore, 0.8 * expectedCycles()) << "the stream stood still";

    const std::vector<std::shared_ptr<Loop>> loops = engine()->ideaCollection()->activeIdea()->loops();
    ASSERT_EQ(loops.size(), 3u);
    for (const auto& loop : loops) {
        EXPECT_EQ(loop->numFrames(), 128 * 44100);
        EXPECT_EQ(loop->numBeats(), 64);
    }
    EXPECT_FALSE(loops[0]->notes().events().empty()) << "the first loop keeps the note played into it";
}

TEST_F(CycleDuringEdits, SavingASongOfThirtyTwoLoopsLeavesTheMusicPlaying)
{
    // Four ideas of eight loops, each loop its own audio; the last idea plays.
    send("{ \"loop_recorder\" : { \"beats\" : 4, \"record\" : true } }");
    for (int idea = 0; idea < 4; ++idea) {
        engine()->ideaCollection()->addIdea(new Idea(engine()->loopPool()));
        engine()->ideaCollection()->setActiveIdea(engine()->ideaCollection()->ideas().back()->id());
        for (int loop = 0; loop < 8; ++loop) {
            engine()->noteOn(60 + loop, 100);
            waitCycles(8);
            engine()->noteOff(60 + loop);
            ASSERT_EQ(engine()->createLoopFromLoopRecorder(), 0);
        }
    }
    ASSERT_EQ(engine()->ideaCollection()->activeIdea()->loops().size(), 8u);

    QTemporaryDir dir;
    const std::string document = (dir.path() + "/Four Ideas.zub").toStdString();
    std::atomic<int> result { -1 };
    startMeasuring();
    const int64 savedBefore = engine()->project()->changeCount();
    engine()->songFiles()->save(document, [&](int saved, uint64_t, const std::string&) { result = saved; });
    while (result < 0) {
        waitCycles(10); // the song may be edited meanwhile: the save holds a snapshot
        send("{ \"metronome\" : { \"mute\" : false } }");
    }
    ASSERT_EQ(result, 0);
    expectShortCycles();
    EXPECT_GT(engine()->cycleMeter().cycles() - m_cyclesBefore, 0.8 * expectedCycles()) << "the stream stood still";
    EXPECT_EQ(engine()->project()->changeCount(), savedBefore);

    const std::filesystem::path folder = dir.path().toStdString() + "/Four Ideas - Audio and MIDI";
    int loopFiles = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder))
        loopFiles += entry.path().filename().string().rfind("loop", 0) == 0;
    EXPECT_EQ(loopFiles, 32);
}

TEST_F(CycleDuringEdits, CopyingTheSongAndTheLongestTakeForRecoveryKeepsEveryCycleShort)
{
    // The recorder's largest buffer, recording, and a kept loop as long.
    send("setTempo->30");
    send("{ \"loop_recorder\" : { \"beats\" : 64, \"record\" : true } }");
    LoopRecorder* recorder = engine()->loopRecorder();
    ASSERT_EQ(recorder->lengthFrames(), 128 * 44100);
    engine()->noteOn(60, 100);
    waitCycles(50);
    engine()->noteOff(60);
    ASSERT_EQ(engine()->createLoopFromLoopRecorder(), 0);
    engine()->noteOn(64, 100);
    waitCycles(50);
    engine()->noteOff(64);
    ASSERT_TRUE(recorder->holdsRecording());

    QTemporaryDir dir;
    Autosave autosave(engine(), dir.path() + "/Recovery", [] { return RecoveryCopy::Info { "Long", "", 0 }; }, nullptr);
    autosave.start();
    startMeasuring();
    autosave.writeIfChanged();
    RecoveryCopy copy((dir.path() + "/Recovery").toStdString());
    RecoveryCopy::Info info;
    while (engine()->songFiles()->isBusy() || !copy.find(info))
        waitCycles(10);
    expectShortCycles();
    EXPECT_GT(engine()->cycleMeter().cycles() - m_cyclesBefore, 0.8 * expectedCycles()) << "the stream stood still";
    EXPECT_EQ(std::filesystem::file_size(dir.path().toStdString() + "/Recovery/recorder.f32"), 128u * 44100 * 2 * 4);
    EXPECT_EQ(std::filesystem::file_size(dir.path().toStdString() + "/Recovery/idea0-loop0.f32"), 128u * 44100 * 2 * 4);
}

} // namespace
