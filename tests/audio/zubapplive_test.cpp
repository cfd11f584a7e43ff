// The whole program on a real JACK server: chosen through the API, its live
// input plays a test tone at the output, and a sampled instrument closes it.
#include "support/capturedsignal.h"
#include "jackserver.h"
#include "qt/audiodeviceenumerator.h"
#include "qt/settings.h"
#include "support/enginetest.h"
#include "support/instrumentlibrary.h"
#include "toneclient.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

namespace {

using namespace capturedsignal;

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
    bool send(const std::string& message)
    {
        m_process.write((message + "\n").c_str());
        const int mark = m_log.size();
        if (!waitForLog("zubapp-live: recording ", mark))
            return false;
        return m_log.indexOf("zubapp-live: recording 1", mark) >= 0;
    }
    // Ends the program the way its event loop does; true on a clean exit.
    bool quit()
    {
        m_process.write("\n");
        m_process.closeWriteChannel();
        const bool finished = m_process.waitForFinished(60000);
        m_log += QString::fromLocal8Bit(m_process.readAll());
        return finished && m_process.exitStatus() == QProcess::NormalExit && m_process.exitCode() == 0
            && m_log.contains("zubapp-live: exited");
    }
    const QString& log() const { return m_log; }

private:
    bool waitForLog(const QString& text, int from)
    {
        QElapsedTimer t;
        t.start();
        while (m_log.indexOf(text, from) < 0) {
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
    {
        // The program plays through JACK as its stored output; this scope's
        // PortAudio client goes before the program's takes the name.
        AudioDeviceEnumerator enumerator;
        JackServer::chooseAsOutput(enumerator);
        Settings::instance().setValue("AudioDeviceSampleRate", "44100");
        Settings::instance().save();
    }

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

} // namespace
