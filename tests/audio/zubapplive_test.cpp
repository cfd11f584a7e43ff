// The whole program on a real JACK server: chosen through the API, its live
// input plays a test tone at the output, and a sampled instrument closes it.
#include "support/capturedsignal.h"
#include "jackserver.h"
#include "engine/recoverycopy.h"
#include "qt/audiodeviceenumerator.h"
#include "qt/autosave.h"
#include "qt/settings.h"
#include "support/enginetest.h"
#include "support/instrumentlibrary.h"
#include "toneclient.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>
#include <csignal>
#include <memory>

namespace {

using namespace capturedsignal;

// What the program answers to one message (see main.cpp).
struct Answer
{
    bool answered = false;
    QString reply;
    QString window; // the device line of the window's status bar
    QString page;   // the "devices" state the page was sent
    qulonglong frames = 0; // the loop recorder's count of audio cycle frames
    bool recording = false;
};

// The program in a child process (see main.cpp), one API message at a time.
class ProgramUnderTest
{
public:
    explicit ProgramUnderTest(const QString& home)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("QTWEBENGINE_DISABLE_SANDBOX", "1");
        env.insert("XDG_RUNTIME_DIR", home);
        m_process.setProcessEnvironment(env);
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.setWorkingDirectory(QDir::currentPath());
        m_process.start(QCoreApplication::applicationFilePath(), { "--run-zubapp-live" });
    }
    ~ProgramUnderTest()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished();
        }
    }

    // Sends one message; returns whether a recording device is open after it.
    bool send(const std::string& message) { return ask(message).recording; }
    Answer ask(const std::string& message)
    {
        m_process.write((message + "\n").c_str());
        const int mark = m_log.size();
        Answer a;
        if (!waitForLog("zubapp-live: recording ", mark))
            return a;
        a.answered = true;
        for (const QString& line : m_log.mid(mark).split('\n')) {
            const QString value = line.section(' ', 2);
            if (line.startsWith("zubapp-live: reply "))
                a.reply = value;
            else if (line.startsWith("zubapp-live: window "))
                a.window = value;
            else if (line.startsWith("zubapp-live: page "))
                a.page = value;
            else if (line.startsWith("zubapp-live: frames "))
                a.frames = value.toULongLong();
            else if (line.startsWith("zubapp-live: recording "))
                a.recording = value.startsWith('1');
        }
        return a;
    }
    // Asks `message` until the answer passes; the last answer (unanswered
    // when the program ended or `seconds` went by).
    template <typename Check>
    Answer askUntil(const std::string& message, Check passes, int seconds = 60)
    {
        QElapsedTimer t;
        t.start();
        for (;;) {
            Answer a = ask(message);
            if (!a.answered || passes(a))
                return a;
            if (t.elapsed() > seconds * 1000) {
                a.answered = false;
                return a;
            }
            QThread::msleep(50);
        }
    }
    // Ends the program the way its event loop does; true on a clean exit.
    bool quit()
    {
        m_process.write("\n");
        m_process.closeWriteChannel();
        return finished();
    }
    // Sends `signal`, as a logout or `kill` would; true on a clean exit.
    bool end(int signal)
    {
        ::kill(pid_t(m_process.processId()), signal);
        return finished();
    }
    const QString& log() const { return m_log; }

private:
    bool finished()
    {
        const bool finished = m_process.waitForFinished(60000);
        m_log += QString::fromLocal8Bit(m_process.readAll());
        return finished && m_process.exitStatus() == QProcess::NormalExit && m_process.exitCode() == 0
            && m_log.contains("zubapp-live: exited");
    }

    bool waitForLog(const QString& text, int from)
    {
        QElapsedTimer t;
        t.start();
        while (m_log.indexOf(text, from) < 0 || !m_log.mid(m_log.indexOf(text, from)).contains('\n')) {
            if (t.elapsed() > 120000 || m_process.state() == QProcess::NotRunning)
                return false;
            m_process.waitForReadyRead(200);
            m_log += QString::fromLocal8Bit(m_process.readAll());
        }
        return true;
    }

    QProcess m_process;
    QString m_log;
};

// Stores the server's output as the program's, as a musician would
// choose it; this scope's PortAudio client goes before the program's takes
// the name.
void chooseJackOutput()
{
    AudioDeviceEnumerator enumerator;
    JackServer::chooseAsOutput(enumerator);
    Settings::instance().setValue("AudioDeviceSampleRate", "44100");
    Settings::instance().save();
}

TEST(ZubAppLiveInput, ProgramPlaysItsInputUntilASampledInstrumentIsChosen)
{
    constexpr double kHz = 523.25;
    constexpr float kAmplitude = 0.3f;
    EmptyWorkingDirectory workingDirectory;
    JackServer jack;
    if (!JackServer::installed())
        GTEST_SKIP() << "jackd is not installed";
    ASSERT_TRUE(jack.start()) << jack.error().toStdString();
    ToneClient tone(kHz, kAmplitude);
    ASSERT_TRUE(tone.start());
    InstrumentLibrary(QDir::currentPath().toStdString()).makeStandard();
    chooseJackOutput();

    QTemporaryDir home;
    QTemporaryDir dir;
    ProgramUnderTest program(home.path());
    ASSERT_TRUE(program.send("loadInstrument:500")) << program.log().toStdString();
    EXPECT_TRUE(program.log().contains("Opening recording device with PA id: 0")) << program.log().toStdString();
    const QStringList inputs = jack.ports("motifo:in");
    ASSERT_EQ(inputs.size(), 2) << inputs.join(",").toStdString();
    for (const QString& port : inputs)
        ASSERT_EQ(QProcess::execute("jack_connect", { "-s", jack.name(), tone.portName(), port }), 0);
    QThread::msleep(300);

    const QStringList outputs = jack.ports("motifo:out");
    ASSERT_EQ(outputs.size(), 2);
    const std::vector<float> left = channel(jack.capture(outputs, 1.5, dir.path()), 2, 0);
    ASSERT_GE(left.size(), 44100u);
    EXPECT_NEAR(steadyFrequency(left), kHz, 1.0);
    const double expected = outputRms(kHz, kAmplitude);
    EXPECT_NEAR(rms(left, left.size() / 2), expected, 0.03 * expected);

    // Chosen again, the input still plays once, through one stream.
    ASSERT_TRUE(program.send("loadInstrument:500"));
    EXPECT_EQ(jack.ports("motifo:in").size(), 2);

    EXPECT_FALSE(program.send("loadInstrument:1"));
    EXPECT_TRUE(jack.ports("motifo:in").isEmpty());
    EXPECT_TRUE(program.quit()) << program.log().toStdString();
}

// The program playing through a JACK server.
class PlayingOnJack : public ::testing::Test
{
protected:
    // A second of the audio cycle has run since `frames`.
    static auto playingAfter(qulonglong frames)
    {
        return [frames](const Answer& a) { return a.frames > frames + 44100; };
    }

    void SetUp() override
    {
        if (!JackServer::installed())
            GTEST_SKIP() << "jackd is not installed";
        ASSERT_TRUE(jack.start()) << jack.error().toStdString();
        InstrumentLibrary(QDir::currentPath().toStdString()).makeStandard();
        chooseJackOutput();
        program = std::make_unique<ProgramUnderTest>(home.path());
        ASSERT_TRUE(program->askUntil("getLoopRecorder", playingAfter(0)).answered) << program->log().toStdString();
    }

    EmptyWorkingDirectory workingDirectory;
    JackServer jack;
    QTemporaryDir home;
    std::unique_ptr<ProgramUnderTest> program;
};

// ... and then stopped under it.
class ServerLoss : public PlayingOnJack
{
protected:
    static constexpr const char* kProblem = "No audio output: system (JACK Audio Connection Kit) stopped "
                                            "(JACK server has been closed); Motifo plays again when it is back";

    static bool told(const Answer& a) { return a.window.startsWith("No audio output"); }

    // Stops the server; what the program says once it noticed.
    Answer stopServer()
    {
        jack.stop();
        const Answer lost = program->askUntil("getLoopRecorder", told);
        EXPECT_EQ(lost.window, kProblem);
        EXPECT_TRUE(lost.page.contains(QString(R"({"devices":{"audio_output":false,"problems":[")") + kProblem + "\"]}}"))
            << lost.page.toStdString();
        return lost;
    }
};

// ... and started again: the song and the live input stay, and the program
// plays on the server that came back.
TEST_F(ServerLoss, TheProgramSaysSoAndPlaysAgainWhenTheServerIsBack)
{
    // A kept loop, then the live input, which opens a stream of its own.
    for (const char* m : { "loadInstrument:1", R"({ "loop_recorder" : { "record" : true } })", "noteOn->60", "noteOff->60",
             "createLoopFromLoopRecorder" })
        ASSERT_TRUE(program->ask(m).answered) << m;
    const QString song = program->ask("getIdeaCollection").reply;
    const QRegularExpressionMatch loop = QRegularExpression(R"("loops" : \[\s*\{\s*"id" : (\d+))").match(song);
    ASSERT_TRUE(loop.hasMatch()) << song.toStdString();
    const std::string checksum = "getAudioChecksum:" + loop.captured(1).toStdString();
    const QString take = program->ask(checksum).reply;
    ASSERT_TRUE(program->send("loadInstrument:500"));

    const Answer lost = stopServer();
    ASSERT_TRUE(lost.answered) << program->log().toStdString();
    EXPECT_EQ(program->ask("getIdeaCollection").reply, song);

    ASSERT_TRUE(jack.start()) << jack.error().toStdString();
    const Answer back = program->askUntil("getLoopRecorder", [&](const Answer& a) { return !told(a) && playingAfter(lost.frames)(a); });
    ASSERT_TRUE(back.answered) << program->log().toStdString();
    EXPECT_TRUE(back.window.isEmpty()) << back.window.toStdString();
    EXPECT_TRUE(back.page.contains(R"("audio_output":true)")) << back.page.toStdString();
    EXPECT_TRUE(back.recording);
    EXPECT_EQ(jack.ports("motifo:out").size(), 2);
    EXPECT_EQ(jack.ports("motifo:in").size(), 2);
    EXPECT_EQ(program->ask("getIdeaCollection").reply, song);
    EXPECT_EQ(program->ask(checksum).reply, take);
    program->send("clearProject"); // ends without asking about the song
    EXPECT_TRUE(program->quit()) << program->log().toStdString();
}

// PortAudio cannot end its JACK client once the server is gone: a program
// closed while it waits for the server still ends at once and cleanly.
TEST_F(ServerLoss, TheProgramEndsCleanlyWhileTheServerIsGone)
{
    ASSERT_TRUE(stopServer().answered) << program->log().toStdString();
    EXPECT_TRUE(program->quit()) << program->log().toStdString();
}

// A logout or `kill` ends the program the orderly way: it leaves the server
// playing for everyone else (jackd used to die writing to the client that
// vanished) and keeps the unsaved song in the recovery copy.
TEST_F(PlayingOnJack, ASignalEndsTheProgramInOrderAndKeepsTheWork)
{
    for (const char* m : { "loadInstrument:1", R"({ "loop_recorder" : { "record" : true } })", "noteOn->60", "noteOff->60",
             "createLoopFromLoopRecorder" })
        ASSERT_TRUE(program->ask(m).answered) << m;
    RecoveryCopy copy(QFile::encodeName(Autosave::defaultFolder()).toStdString());
    RecoveryCopy::Info info;
    ASSERT_FALSE(copy.find(info)) << "the first copy is a minute away";
    ASSERT_EQ(jack.ports("motifo:out").size(), 2);

    ASSERT_TRUE(program->end(SIGTERM)) << program->log().toStdString();
    EXPECT_TRUE(program->log().contains("Signal 15 ends Motifo")) << program->log().toStdString();
    EXPECT_TRUE(copy.find(info));
    EXPECT_TRUE(jack.ports("motifo:").isEmpty());
    EXPECT_EQ(QProcess::execute("jack_wait", { "-s", jack.name(), "-c" }), 0) << jack.log().toStdString();
    EXPECT_EQ(jack.ports("system:playback").size(), 2);
}

} // namespace
