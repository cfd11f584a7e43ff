#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

// Runs the whole program (start, event loop, exit) in a child process with
// its own home, and keeps what it logged.
class FullStart : public ::testing::Test
{
protected:
    QString run(const QString& workingDirectory = QString())
    {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", home.path());
        env.insert("XDG_DATA_HOME", home.path() + "/data");
        env.insert("XDG_CONFIG_HOME", home.path() + "/config");
        env.insert("XDG_RUNTIME_DIR", home.path());
        env.insert("JACK_DEFAULT_SERVER", "motifo-test-no-server");
        env.insert("JACK_NO_START_SERVER", "1");
        p.setProcessEnvironment(env);
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.setWorkingDirectory(workingDirectory.isEmpty() ? home.path() : workingDirectory);
        p.start(QCoreApplication::applicationFilePath(), { "--run-zubapp" });
        EXPECT_TRUE(p.waitForFinished(120000));
        EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(p.exitCode(), 0);
        return QString::fromUtf8(p.readAll());
    }

    QString settingsPath() const { return home.path() + "/data/Quavertone/Motifo/settings.xml"; }
    QString settingsText() const
    {
        QFile f(settingsPath());
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

} // namespace
