// Motifo in a Link session on a JACK dummy server, against LinkHut (driven in
// tmux) and against a peer of the test's own. main.cpp has put the process
// in a network namespace with loopback only.
#include "../audio/jackserver.h"
#include "engine/enginecontext.h"
#include "engine/linksession.h"
#include "engine/transport.h"
#include "engine/zubapi.h"
#include "engine/zubengine.h"
#include "loops/ideacollection.h"
#include "loops/looprecorder.h"
#include "qt/audiodevice.h"
#include "qt/audiodeviceenumerator.h"
#include "qt/settings.h"
#include "support/instrumentlibrary.h"
#include "support/pushedstates.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QThread>
#include <ableton/Link.hpp>
#include <atomic>
#include <cmath>
#include <functional>
#include <gtest/gtest.h>
#include <jack/jack.h>
#include <json/json.h>
#include <memory>

namespace {

// Network sockets of this namespace: every line of the kernel's tables but
// their headings.
int networkSockets()
{
    int count = 0;
    for (const char* table : { "/proc/net/udp", "/proc/net/udp6", "/proc/net/tcp", "/proc/net/tcp6", "/proc/net/raw" }) {
        QFile f(table);
        if (f.open(QIODevice::ReadOnly))
            count += std::max(0, int(f.readAll().trimmed().split('\n').size()) - 1);
    }
    return count;
}

// LinkHut in a tmux session of its own, on the test's JACK server.
class LinkHut
{
public:
    explicit LinkHut(const QString& jackServer)
        : m_socket(QString("motifo-linkhut-%1").arg(QCoreApplication::applicationPid()))
    {
        tmux({ "new-session", "-d", "-x", "120", "-y", "20", "-e", "JACK_DEFAULT_SERVER=" + jackServer, "-e",
            "JACK_NO_START_SERVER=1", "LinkHut" });
    }
    // Quit, so LinkHut leaves the JACK server as a client should.
    ~LinkHut()
    {
        tmux({ "send-keys", "q" });
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < 5000 && !tmux({ "list-panes", "-F", "#{pane_dead}" }).isEmpty())
            QThread::msleep(50);
        tmux({ "kill-server" });
    }

    // One key at a time: LinkHut reads one per look at its terminal.
    void press(const QString& keys)
    {
        for (const QString& key : keys.split(' ')) {
            tmux({ "send-keys", key });
            QThread::msleep(100);
        }
    }

    struct Status
    {
        bool valid = false;
        bool enabled = false;
        int peers = 0;
        bool startStopSync = false;
        bool playing = false;
        double tempo = 0;
    };
    // The status line under its heading, e.g. "yes | 1 | 4 | no [stopped] | 121.00 | 9.06 | XXOO".
    Status status()
    {
        static const QRegularExpression line(
            R"(^(yes|no)\s*\|\s*(\d+)\s*\|\s*\d+\s*\|\s*(yes|no)\s*\[(\w+)\]\s*\|\s*([\d.]+))",
            QRegularExpression::MultilineOption);
        const QRegularExpressionMatch m = line.match(tmux({ "capture-pane", "-p" }));
        Status s;
        if (!m.hasMatch())
            return s;
        s.valid = true;
        s.enabled = m.captured(1) == "yes";
        s.peers = m.captured(2).toInt();
        s.startStopSync = m.captured(3) == "yes";
        s.playing = m.captured(4) == "playing";
        s.tempo = m.captured(5).toDouble();
        return s;
    }

private:
    QString tmux(const QStringList& args)
    {
        QProcess p;
        p.start("tmux", QStringList { "-L", m_socket } + args);
        p.waitForFinished(10000);
        return QString::fromLocal8Bit(p.readAllStandardOutput());
    }

    QString m_socket;
};

// Polls as the program's timer does until done() or the time is up;
// returns the milliseconds it took, or -1.
qint64 followLinkUntil(ZubEngine& engine, const std::function<bool()>& done, int ms)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) {
        engine.followLink();
        if (done())
            return t.elapsed();
        QThread::msleep(20);
    }
    return -1;
}

// Motifo's engine playing through PortAudio on a JACK dummy server, its
// Link state looked at from this thread as the program's timer does.
class LinkSyncTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (!JackServer::installed())
            GTEST_SKIP() << "jackd is not installed";
        // Paced by the clock Link runs on: a loaded machine misses periods
        // rather than letting the frames fall behind the session.
        ASSERT_TRUE(jack.start(serverRate(), 256, JackServer::Realtime)) << jack.error().toStdString();
        enumerator = std::make_unique<AudioDeviceEnumerator>();
        ASSERT_FALSE(JackServer::chooseAsOutput(*enumerator).isEmpty()) << "PortAudio lists no JACK output";
        Settings::instance().setValue("AudioDeviceSampleRate", "44100");
        context = std::make_unique<EngineContext>(nullptr);
        const PaStreamParameters out = enumerator->outputParameters();
        device = std::make_unique<AudioDevice>(context->engine(), nullptr, &out, nullptr, enumerator->sampleRate());
        ASSERT_EQ(device->start(), 0);
        ASSERT_EQ(device->deviceRate(), serverRate());
        context->engine()->setAudioInterface(device.get());
    }
    virtual int serverRate() const { return 44100; }
    void expectClicksOnTheSessionsBeatsAndBars();
    void TearDown() override
    {
        if (device)
            device->stop();
        if (context)
            context->engine()->setLinkEnabled(false);
    }

    ZubEngine& engine() { return *context->engine(); }
    Json::Value send(const std::string& message)
    {
        Json::Value v;
        Json::Reader().parse(context->api()->handleMessage(message), v);
        return v;
    }
    float bpm() { return engine().transport()->bpm(); }
    qint64 waitFor(const std::function<bool()>& done, int ms = 5000) { return followLinkUntil(engine(), done, ms); }
    qint64 waitForHut(LinkHut& hut, const std::function<bool(const LinkHut::Status&)>& done)
    {
        return waitFor([&] { return done(hut.status()); });
    }

    JackServer jack;
    std::unique_ptr<AudioDeviceEnumerator> enumerator;
    std::unique_ptr<EngineContext> context;
    std::unique_ptr<AudioDevice> device;
};

bool near(double a, double b) { return std::abs(a - b) < 0.01; }

TEST_F(LinkSyncTest, OffOpensNoSocketAndOnFindsNoOneBeyondLoopback)
{
    // Playing, with the page's state asked for and the timer running.
    EXPECT_FALSE(send("getLink")["link"]["enabled"].asBool());
    waitFor([] { return false; }, 500);
    EXPECT_EQ(networkSockets(), 0) << "with Link off nothing may open a socket";

    const Json::Value on = send("{ \"link\" : { \"enabled\" : true } }")["link"];
    EXPECT_TRUE(on["enabled"].asBool());
    EXPECT_EQ(on["peers"].asInt(), 0);
    // Link opens its sockets on its own thread, once it has looked at the interfaces.
    EXPECT_GE(waitFor([] { return networkSockets() > 0; }), 0) << "the check sees Link's own sockets";
}

TEST_F(LinkSyncTest, TempoTravelsBothWaysWithLinkHut)
{
    LinkHut hut(jack.name());
    ASSERT_GE(waitForHut(hut, [](const LinkHut::Status& s) { return s.valid; }), 0) << "LinkHut did not start";
    hut.press("a");
    hut.press("e"); // 121 bpm
    ASSERT_GE(waitForHut(hut, [](const LinkHut::Status& s) { return s.enabled && near(s.tempo, 121); }), 0);
    // A jam that was there first: Link keeps the older session when two meet.
    QThread::msleep(1000);

    ASSERT_EQ(engine().setTempo(100.0f), 0);
    send("{ \"link\" : { \"enabled\" : true } }");
    const qint64 joined = waitFor([&] { return near(bpm(), 121); });
    ASSERT_GE(joined, 0) << "Motifo never took LinkHut's tempo: Motifo at " << bpm() << " with "
                         << send("getLink")["link"]["peers"].asInt() << " peers, LinkHut with " << hut.status().peers;
    EXPECT_LE(joined, 1000) << "Motifo took LinkHut's tempo only after " << joined << " ms";
    const Json::Value state = send("getLink")["link"];
    EXPECT_EQ(state["peers"].asInt(), 1);
    EXPECT_NEAR(state["tempo"].asDouble(), 121.0, 0.01);

    hut.press("e e e");
    EXPECT_GE(waitFor([&] { return near(bpm(), 124); }), 0) << "LinkHut's change did not reach Motifo";

    send("setTempo->90");
    EXPECT_GE(waitForHut(hut, [](const LinkHut::Status& s) { return near(s.tempo, 90); }), 0)
        << "Motifo's change did not reach LinkHut: " << hut.status().tempo;

    // A kept loop holds the tempo: the session is given the song's back.
    send("{ \"loop_recorder\" : { \"record\" : true } }");
    send("noteOn->60");
    QThread::msleep(200);
    send("noteOff->60");
    ASSERT_GE(waitFor([&] { return engine().loopRecorder()->holdsRecording(); }), 0);
    ASSERT_EQ(engine().createLoopFromLoopRecorder(), 0);
    hut.press("e");
    QThread::msleep(300);
    EXPECT_GE(waitForHut(hut, [](const LinkHut::Status& s) { return near(s.tempo, 90); }), 0)
        << "LinkHut stayed at " << hut.status().tempo;
    EXPECT_FLOAT_EQ(bpm(), 90.0f);
}

TEST_F(LinkSyncTest, PlayAndStopTravelBothWaysWithStartStopSync)
{
    LinkHut hut(jack.name());
    ASSERT_GE(waitForHut(hut, [](const LinkHut::Status& s) { return s.valid; }), 0) << "LinkHut did not start";
    hut.press("a s");
    ASSERT_GE(waitForHut(hut, [](const LinkHut::Status& s) { return s.enabled && s.startStopSync; }), 0);
    engine().ideaCollection()->activeIdeaMadeIfNone();
    send("{ \"link\" : { \"enabled\" : true, \"start_stop_sync\" : true } }");
    ASSERT_GE(waitFor([&] { return send("getLink")["link"]["peers"].asInt() == 1; }), 0);

    // The page is told each time, so that its Play/Stop button shows it.
    RecordingBridge page;
    engine().setJsBridge(&page);
    const auto pageSaysStopped = [&] {
        const std::vector<Json::Value> states = pushedStates(page.messages(), "idea_collection");
        return states.empty() ? Json::Value() : states.back()["stopped"];
    };
    hut.press("Space"); // LinkHut starts the session
    EXPECT_GE(waitFor([&] { return !engine().ideaCollection()->isStopped(); }), 0);
    EXPECT_EQ(pageSaysStopped(), Json::Value(false));
    hut.press("Space");
    EXPECT_GE(waitFor([&] { return engine().ideaCollection()->isStopped(); }), 0) << "LinkHut's stop did not stop the song";
    EXPECT_EQ(pageSaysStopped(), Json::Value(true));
    engine().setJsBridge(nullptr);
    send("playSong");
    EXPECT_GE(waitForHut(hut, [](const LinkHut::Status& s) { return s.playing; }), 0) << "Motifo's play did not reach LinkHut";
    send("stopSong");
    EXPECT_GE(waitForHut(hut, [](const LinkHut::Status& s) { return !s.playing; }), 0);
}

// A JACK client of the test's own that records Motifo's left channel and,
// on the server's clock, when each of its cycles began.
class BeatRecorder
{
public:
    struct Cycle
    {
        int64 hostUs;          // when it began, on Link's clock
        std::size_t sample;    // where its frames start in samples
        jack_nframes_t frame;  // the server's count of its first frame
    };

    BeatRecorder(const ableton::Link& clock, double seconds)
        : m_clock(clock)
    {
        m_pClient = jack_client_open("beats", JackNoStartServer, nullptr);
        if (!m_pClient)
            return;
        m_rate = double(jack_get_sample_rate(m_pClient));
        m_samples.resize(std::size_t(seconds * m_rate));
        m_cycles.resize(m_samples.size() / 16);
        m_pPort = jack_port_register(m_pClient, "in", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
        jack_set_process_callback(m_pClient, &BeatRecorder::process, this);
    }
    ~BeatRecorder()
    {
        if (m_pClient)
            jack_client_close(m_pClient);
    }

    bool start(const QString& source)
    {
        return m_pClient && jack_activate(m_pClient) == 0
            && jack_connect(m_pClient, source.toUtf8().constData(), jack_port_name(m_pPort)) == 0;
    }
    bool full() const { return m_done.load(); }
    const std::vector<float>& samples() const { return m_samples; }
    double rate() const { return m_rate; }
    // When a frame leaves the port is heard this much later, by the server's
    // own account of the way to the speakers.
    double playbackLatencyUs(const QStringList& ports) const
    {
        jack_nframes_t frames = 0;
        for (const QString& name : ports) {
            jack_latency_range_t range {};
            if (jack_port_t* port = jack_port_by_name(m_pClient, name.toUtf8().constData()))
                jack_port_get_latency_range(port, JackPlaybackLatency, &range);
            frames = std::max(frames, range.max);
        }
        return frames * 1e6 / m_rate;
    }
    std::vector<Cycle> cycles() const { return { m_cycles.begin(), m_cycles.begin() + m_numCycles.load() }; }

private:
    static int process(jack_nframes_t n, void* arg)
    {
        auto* self = static_cast<BeatRecorder*>(arg);
        return self->record(n);
    }
    int record(jack_nframes_t n)
    {
        if (m_done.load())
            return 0;
        jack_nframes_t frame;
        jack_time_t startUs, nextUs;
        float periodUs;
        jack_get_cycle_times(m_pClient, &frame, &startUs, &nextUs, &periodUs);
        // The server's clock and Link's read at the same instant.
        const int64 offset = m_clock.clock().micros().count() - int64(jack_get_time());
        const std::size_t at = m_numSamples;
        const std::size_t count = std::min<std::size_t>(n, m_samples.size() - at);
        const auto* in = static_cast<const float*>(jack_port_get_buffer(m_pPort, n));
        std::copy(in, in + count, m_samples.begin() + at);
        m_cycles[m_numCycles.load()] = { int64(startUs) + offset, at, frame };
        m_numSamples += count;
        m_numCycles.fetch_add(1);
        if (m_numSamples == m_samples.size() || m_numCycles.load() == m_cycles.size())
            m_done.store(true);
        return 0;
    }

    const ableton::Link& m_clock;
    jack_client_t* m_pClient = nullptr;
    jack_port_t* m_pPort = nullptr;
    double m_rate = 44100.0;
    std::vector<float> m_samples;
    std::vector<Cycle> m_cycles;
    std::size_t m_numSamples = 0;
    std::atomic<std::size_t> m_numCycles { 0 };
    std::atomic<bool> m_done { false };
};

void LinkSyncTest::expectClicksOnTheSessionsBeatsAndBars()
{
    constexpr double kTempo = 97.0;
    ableton::Link peer(kTempo);
    peer.enable(true);
    QThread::msleep(1000); // the older session wins
    send("{ \"metronome\" : { \"mute\" : false } }");
    send("{ \"link\" : { \"enabled\" : true } }");
    ASSERT_GE(waitFor([&] { return near(bpm(), kTempo) && peer.numPeers() == 1; }), 0);
    // Motifo catches up within a bar; then the click must stay on the beats.
    waitFor([] { return false; }, 3000);

    BeatRecorder recorder(peer, 5.0);
    ASSERT_TRUE(recorder.start(jack.ports("motifo:").value(0)));
    ASSERT_GE(waitFor([&] { return recorder.full(); }, 20000), 0);

    const double latencyUs = recorder.playbackLatencyUs(jack.ports("motifo:"));
    ASSERT_GT(latencyUs, 0.0) << "the dummy server's outputs are a cycle or two from its speakers";
    const auto session = peer.captureAppSessionState();
    const std::vector<float>& samples = recorder.samples();
    const std::vector<BeatRecorder::Cycle> cycles = recorder.cycles();
    int clicks = 0;
    long lastSound = 0; // a click cut off at the start is no onset
    std::size_t c = 0;
    for (std::size_t i = 0; i < cycles.back().sample; ++i) {
        if (std::fabs(samples[i]) < 1e-4f)
            continue;
        const bool onset = long(i) - lastSound > 2000;
        lastSound = long(i);
        if (!onset)
            continue;
        while (cycles[c + 1].sample <= i)
            ++c;
        // On the server's clock: when its cycle started (a server that
        // overran starts its clock again), then the frames at the rate. The
        // click's first audible frame is frame 2 of its beat.
        const double frame = double(i - cycles[c].sample) - 2.0;
        const double heardUs = double(cycles[c].hostUs) + frame * 1e6 / recorder.rate() + latencyUs;
        const double beat = session.beatAtTime(std::chrono::microseconds(std::llround(heardUs)), 4.0);
        const double offMs = (beat - std::round(beat)) * 60000.0 / kTempo;
        // A loaded server skips a cycle now and then, Motifo's with it; a
        // beat that follows within two cycles comes too soon to be moved
        // and may be late by the frames skipped. A server that starts its
        // clock again can count fewer frames than it gave; that skips none.
        double skippedFrames = 0;
        for (std::size_t b = c; b > 0 && b + 2 >= c; --b) {
            const double step = double(cycles[b].frame) - double(cycles[b - 1].frame);
            skippedFrames += std::max(0.0, step - double(cycles[b].sample - cycles[b - 1].sample));
        }
        EXPECT_LE(std::abs(offMs), 3.0 + skippedFrames * 1000.0 / recorder.rate())
            << "click " << clicks << " is " << offMs << " ms off the session's beat";
        ++clicks;
    }
    EXPECT_GE(clicks, 6) << "a click on every beat of 5 s at 97 bpm";

    // Bars: Motifo's beat within its bar is the session's phase.
    const double heardNow = double(peer.clock().micros().count()) + latencyUs;
    const double phase = session.phaseAtTime(std::chrono::microseconds(std::llround(heardNow)), 4.0);
    const double local = std::fmod(engine().transport()->beatPosition(), 4.0);
    EXPECT_LT(std::abs(std::remainder(local - phase, 4.0)), 0.1) << "bar phase " << local << " against " << phase;
}

TEST_F(LinkSyncTest, ClicksLandOnTheSessionsBeatsAndBars)
{
    expectClicksOnTheSessionsBeatsAndBars();
}

// A server at 48,000 Hz: the engine's 44,100 Hz frames are converted on the
// way out, and when each is heard goes through the converter's own timing.
class LinkSyncAt48k : public LinkSyncTest
{
protected:
    int serverRate() const override { return 48000; }
};

TEST_F(LinkSyncAt48k, ClicksLandOnTheSessionsBeatsAndBars)
{
    expectClicksOnTheSessionsBeatsAndBars();
}

// The engine run cycle by cycle on a timeline of the test's own, each buffer
// stamped as a device with a clock stamps it. When that clock steps (a
// server that overran starts its clock again, so frames were never played)
// the click must move onto the session's beats once: no beat lost, doubled
// or left off the beat, but for one that comes too soon after the step to
// be moved in time.
TEST(LinkClockSteps, TheClickMovesOntoTheBeatsOnce)
{
    constexpr double kTempo = 97.0;
    constexpr int kCycle = 256;
    constexpr double kCycleUs = kCycle * 1e6 / 44100.0;
    ableton::Link peer(kTempo);
    peer.enable(true);
    QThread::msleep(1000); // the older session wins
    EngineContext context(nullptr);
    ZubEngine& engine = *context.engine();
    // Another tempo first (the transport outlives an earlier test's engine):
    // taking the session's then shows that Motifo has joined it.
    ASSERT_EQ(engine.setTempo(120.0f), 0);
    context.api()->handleMessage("{ \"metronome\" : { \"mute\" : false } }");
    context.api()->handleMessage("{ \"link\" : { \"enabled\" : true } }");
    ASSERT_GE(followLinkUntil(engine, [&] { return near(engine.transport()->bpm(), kTempo); }, 5000), 0)
        << "Motifo never took the session's tempo: " << engine.transport()->bpm();

    // Where in its beat the step comes, and how far the device's clock moves
    // beyond the frames played: forward is time passed with no frames,
    // back is frames played ahead of time. A step can follow another made
    // early in the same beat and not yet caught up with: two cycles before
    // the beat (0.9812 of it at 97 bpm), the next cycle's landing point then
    // leaps over the beat.
    struct Case
    {
        double phase;
        double stepFrames;
        double earlierStepFrames = 0.0;
    };
    const Case cases[] = {
        { 0.50, 256 }, { 0.90, 256 }, { 0.97, 256 }, { 0.99, 256 }, { 0.95, 100 }, { 0.80, 700 },
        { 0.50, -256 }, { 0.97, -256 }, { 0.99, -100 }, { 0.9813, 256, 700 }, { 0.9813, 256, 256 },
    };
    std::vector<float> buffer(kCycle * ZUB_FRAMESIZE);
    double timeUs = double(peer.clock().micros().count());
    for (const Case& k : cases) {
        SCOPED_TRACE(::testing::Message() << "a step of " << k.stepFrames << " frames at " << k.phase << " of a beat after one of "
                                          << k.earlierStepFrames);
        const auto session = peer.captureAppSessionState();
        const auto beatAt = [&](double us) { return session.beatAtTime(std::chrono::microseconds(std::llround(us)), 4.0); };
        // Onsets as times on the device's clock; a second of cycles settles
        // each case, then the step, then three beats.
        std::vector<double> onsets;
        long silent = 2000;
        const auto play = [&] {
            // On the clock the engine's Link reads too: no time passes between.
            engine.linkSession()->stampBuffer(std::llround(timeUs));
            engine.process(buffer.data(), kCycle);
            for (int i = 0; i < kCycle; ++i, ++silent) {
                if (std::fabs(buffer[i * ZUB_FRAMESIZE]) < 1e-4f)
                    continue;
                if (silent > 2000) // the click's first audible frame is frame 2 of its beat
                    onsets.push_back(timeUs + (i - 2) * 1e6 / 44100.0);
                silent = 0;
            }
            timeUs += kCycleUs;
        };
        const auto playTo = [&](double phase, double untilUs) {
            while (timeUs < untilUs || beatAt(timeUs) - std::floor(beatAt(timeUs)) < phase)
                play();
        };
        // Settled, then early in a beat.
        playTo(0.5, timeUs + 1e6);
        while (beatAt(timeUs) - std::floor(beatAt(timeUs)) > 0.1)
            play();
        timeUs += k.earlierStepFrames * 1e6 / 44100.0;
        playTo(k.phase, 0.0);
        const double stepAtUs = timeUs;
        const double stepUs = k.stepFrames * 1e6 / 44100.0;
        timeUs += stepUs;
        onsets.clear();
        const double end = beatAt(timeUs) + 3.0;
        while (beatAt(timeUs) < end)
            play();

        ASSERT_FALSE(onsets.empty());
        for (std::size_t i = 0; i < onsets.size(); ++i) {
            const double beat = beatAt(onsets[i]);
            const double offMs = (beat - std::round(beat)) * 60000.0 / kTempo;
            // The transport is left alone within a millisecond of the beats.
            // The step shows in the cycle after it, which can only fade
            // out: a beat before the next cycle's end cannot be moved.
            const bool tooSoon = onsets[i] - stepAtUs < 2.0 * kCycleUs + std::abs(stepUs) + 1.0;
            EXPECT_LE(std::abs(offMs), tooSoon ? std::abs(stepUs) / 1000.0 + 1.1 : 1.1)
                << "click " << i << " at beat " << beat;
            if (i > 0)
                EXPECT_NEAR(std::round(beat) - std::round(beatAt(onsets[i - 1])), 1.0, 0.01) << "click " << i;
        }
    }
}

} // namespace
