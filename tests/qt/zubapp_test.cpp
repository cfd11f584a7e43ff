#include "qt/commandline.h"

#include "waitfor.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

// Runs the whole program (start, event loop, exit) in a child process with
// its own home, and keeps what it logged.
class FullStart : public ::testing::Test
{
protected:
    QProcessEnvironment environment() const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", home.path());
        env.insert("XDG_DATA_HOME", home.path() + "/data");
        env.insert("XDG_CONFIG_HOME", home.path() + "/config");
        env.insert("XDG_RUNTIME_DIR", home.path());
        env.insert("JACK_DEFAULT_SERVER", "motifo-test-no-server");
        env.insert("JACK_NO_START_SERVER", "1");
        return env;
    }

    QString run(const QString& workingDirectory = QString())
    {
        QProcess p;
        p.setProcessEnvironment(environment());
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.setWorkingDirectory(workingDirectory.isEmpty() ? home.path() : workingDirectory);
        p.start(QCoreApplication::applicationFilePath(), { "--run-zubapp" });
        EXPECT_TRUE(p.waitForFinished(120000));
        EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(p.exitCode(), 0);
        return QString::fromUtf8(p.readAll());
    }

    QString dataFolder() const { return home.path() + "/data/Quavertone/Motifo/"; }
    QString settingsPath() const { return dataFolder() + "settings.xml"; }
    QString settingsText() const { return text(settingsPath()); }
    static QString text(const QString& path)
    {
        QFile f(path);
        f.open(QIODevice::ReadOnly);
        return QString::fromUtf8(f.readAll());
    }

    QTemporaryDir home;
};

TEST_F(FullStart, FirstRunWritesTheSettingsAtExitAndTheNextRunIsNotFirst)
{
    const QString first = run();
    EXPECT_TRUE(first.contains("Creating default settings")) << first.toStdString();
    EXPECT_TRUE(first.contains("First run Qt4"));
    EXPECT_TRUE(first.contains("zubapp-test: first run true"));
    ASSERT_TRUE(first.contains("zubapp-test: exited")) << first.toStdString();
    const QString saved = settingsText();
    EXPECT_TRUE(saved.contains("<version>1.0.0</version>")) << saved.toStdString();
    EXPECT_TRUE(saved.contains("<AudioDevice")) << saved.toStdString();
    EXPECT_TRUE(saved.contains("<last_zub_load_path>")) << saved.toStdString();
    EXPECT_TRUE(QFileInfo(home.path() + "/Documents/Motifo").isDir());

    const QString second = run();
    EXPECT_FALSE(second.contains("First run Qt4"));
    EXPECT_TRUE(second.contains("zubapp-test: first run false")) << second.toStdString();
}

TEST_F(FullStart, SettingsThatAreNotXmlAreReplacedAndTheProgramStarts)
{
    QDir().mkpath(QFileInfo(settingsPath()).path());
    QFile f(settingsPath());
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("\x00\x01 garbage <settings><version>1.0.0");
    f.close();
    const QString log = run();
    EXPECT_TRUE(log.contains("Creating default settings"));
    EXPECT_TRUE(log.contains("zubapp-test: exited")) << log.toStdString();
    EXPECT_TRUE(settingsText().contains("<version>1.0.0</version>"));
    EXPECT_FALSE(settingsText().contains("garbage"));
}

TEST_F(FullStart, ChangesIntoTheFolderThatHoldsRes)
{
    QTemporaryDir withRes;
    QDir(withRes.path()).mkpath("res");
    const QString here = run(withRes.path());
    EXPECT_TRUE(here.contains("cwd \"" + QDir(withRes.path()).canonicalPath() + "\"")) << here.toStdString();

    // Started elsewhere, it still finds its page beside the program.
    QTemporaryDir elsewhere;
    const QString log = run(elsewhere.path());
    EXPECT_TRUE(log.contains("Loading \"" MOTIFO_BINARY_DIR "/src/html/zub.html\"")) << log.toStdString();
    EXPECT_FALSE(log.contains("Error loading page.")) << log.toStdString();
}

// The chosen output's server is not running (and this machine has no other
// output): the window and the page say which device and why, and the
// program runs on without sound.
TEST_F(FullStart, AnOutputThatCannotOpenIsNamedWithItsReason)
{
    QDir().mkpath(home.path() + "/data/Quavertone/Motifo");
    QFile settings(settingsPath());
    ASSERT_TRUE(settings.open(QIODevice::WriteOnly));
    settings.write("<!DOCTYPE settings>\n<settings>\n <AudioDevice>0. system (JACK Audio Connection Kit)</AudioDevice>\n"
                   " <MidiDevice>2. Gone Keys</MidiDevice>\n <version>1.0.0</version>\n</settings>\n");
    settings.close();
    const QString log = run();
    ASSERT_TRUE(log.contains("zubapp-test: exited")) << log.toStdString();
    EXPECT_TRUE(log.contains("zubapp-test: devices No audio output: system (JACK Audio Connection Kit) is not there"))
        << log.toStdString();
    EXPECT_TRUE(log.contains("No MIDI keyboard: Gone Keys is not connected")) << log.toStdString();
    EXPECT_TRUE(log.contains("page {\"devices\":{\"audio_output\":false,\"problems\":[\"No audio output: system"))
        << log.toStdString();
}

TEST_F(FullStart, EachRunLogsToAFileAndKeepsThePreviousRunsLog)
{
    run();
    const QString first = text(dataFolder() + "motifo.log");
    EXPECT_TRUE(first.contains("info  First run Qt4\n")) << first.toStdString();
    // One line names the version, Qt, PortAudio and the output.
    const QRegularExpression startup(QString("info  Motifo %1 with Qt %2 and PortAudio V\\d+[^\n]*; audio output: [^\n]+\n")
                                         .arg(MOTIFO_VERSION, qVersion()));
    EXPECT_TRUE(startup.match(first).hasMatch()) << first.toStdString();

    run();
    EXPECT_EQ(text(dataFolder() + "motifo.1.log"), first);
    EXPECT_FALSE(text(dataFolder() + "motifo.log").contains("First run Qt4"));
}

// What the file manager does: `motifo song.zub`, then another song while it runs.
TEST_F(FullStart, ASongOnTheCommandLineOpensAndALaterLaunchHandsItsSongOver)
{
    for (const auto& [name, bpm] : { std::pair { "first.zub", 97 }, std::pair { "second.zub", 133 } }) {
        QFile f(home.path() + "/" + name);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QString("{ \"project\" : { \"bpm\" : %1 } }").arg(bpm).toUtf8());
    }
    QProcess running;
    running.setProcessEnvironment(environment());
    running.setProcessChannelMode(QProcess::MergedChannels);
    running.setWorkingDirectory(home.path());
    running.start(MOTIFO_BINARY_DIR "/motifo", { "first.zub" }); // relative to where it starts
    QString log;
    auto logged = [&](const QString& line) {
        return waitFor([&] {
            log += QString::fromUtf8(running.readAll());
            return log.contains(line) || running.state() == QProcess::NotRunning;
        }, 60000) && log.contains(line);
    };
    ASSERT_TRUE(logged("Read the tempo and set it as: 97")) << log.toStdString();

    QProcess later;
    later.setProcessEnvironment(environment());
    later.setProcessChannelMode(QProcess::MergedChannels);
    later.start(MOTIFO_BINARY_DIR "/motifo", { home.path() + "/second.zub" });
    ASSERT_TRUE(later.waitForFinished(30000));
    EXPECT_EQ(later.exitCode(), 0);
    EXPECT_TRUE(QString::fromUtf8(later.readAll()).contains("to the running Motifo"));
    EXPECT_TRUE(logged("Read the tempo and set it as: 133")) << log.toStdString();
    running.kill();
    running.waitForFinished();
}

TEST(CommandLine, VersionIsAnsweredWithoutStartingTheProgram)
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("DISPLAY");
    env.remove("QT_QPA_PLATFORM"); // no display needed
    p.setProcessEnvironment(env);
    p.start(MOTIFO_BINARY_DIR "/motifo", { "--version" });
    ASSERT_TRUE(p.waitForFinished(10000));
    EXPECT_EQ(p.exitCode(), 0);
    EXPECT_EQ(p.readAllStandardOutput(), "Motifo " MOTIFO_VERSION "\n");
}

TEST(CommandLine, SongsAreTheArgumentsAfterTheOptions)
{
    const QString here = QDir::currentPath();
    EXPECT_EQ(CommandLine::songs({ "motifo", "a.zub", "--unknown", "/tmp/b c.zub", "file:///tmp/d%20e.zub" }),
        QStringList({ here + "/a.zub", "/tmp/b c.zub", "/tmp/d e.zub" }));
    EXPECT_EQ(CommandLine::songs({ "motifo" }), QStringList());
}

} // namespace
