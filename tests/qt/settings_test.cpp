#include "qt/settings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>

namespace {

QString readFile(const QString& path)
{
    QFile f(path);
    f.open(QIODevice::ReadOnly);
    return QString::fromUtf8(f.readAll());
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

// Each test runs in its own process with an empty data location.
TEST(Settings, FirstUseWritesAnEmptyFileThenKeysInOrder)
{
    Settings& s = Settings::instance();
    EXPECT_TRUE(QFileInfo::exists(Settings::filePath()));
    EXPECT_EQ(s.value("version"), "");
    s.setValue("version", "1.0.0");
    s.setValue("last_zub_load_path", "/home/me/songs");
    s.setValue("MidiDevice", "None");
    s.setValue("AudioDeviceSampleRate", "44100");
    s.setValue("AudioDevice", "3. Speakers (JACK Audio Connection Kit)");
    s.save();
    const QString text = readFile(Settings::filePath());
    const QStringList order = { "<AudioDevice>", "<AudioDeviceSampleRate>", "<MidiDevice>", "<last_zub_load_path>", "<version>" };
    int at = 0;
    for (const QString& tag : order) {
        const int found = text.indexOf(tag);
        ASSERT_GT(found, at) << tag.toStdString();
        at = found;
    }
}

TEST(Settings, SpecialCharactersSurviveSaveAndLoad)
{
    Settings& s = Settings::instance();
    s.setValue("last_zub_load_path", "/tmp/a & b <c> \"d\"");
    s.save();
    s.setValue("last_zub_load_path", "changed");
    s.load();
    EXPECT_EQ(s.value("last_zub_load_path"), "/tmp/a & b <c> \"d\"");
}

TEST(Settings, MalformedFileIsReplacedAndKnownValuesRead)
{
    writeFile(Settings::filePath(), "<settings><AudioDevice>3. Speakers (Windows WASAPI)</AudioDevice>"
                                    "<Unknown>kept</Unknown><AudioDevice>later wins</AudioDevice></settings>");
    Settings& s = Settings::instance();
    s.load(); // the file above, whether or not an earlier test made the store
    EXPECT_EQ(s.value("AudioDevice"), "later wins");
    EXPECT_EQ(s.value("Unknown"), "kept");

    writeFile(Settings::filePath(), "this is <not xml");
    s.load();
    EXPECT_EQ(readFile(Settings::filePath()).trimmed().contains("<settings"), true);
    EXPECT_FALSE(readFile(Settings::filePath()).contains("not xml"));
}


TEST(Settings, AFailedWriteKeepsThePreviousFile)
{
    Settings& s = Settings::instance();
    s.setValue("AudioDevice", "3. Speakers");
    ASSERT_EQ(s.save(), 0);
    const QString before = readFile(Settings::filePath());

    // Files may grow to a few bytes only: the write is cut short as on a full disk.
    s.setValue("last_zub_load_path", QString(4000, 'p'));
    rlimit previous {};
    getrlimit(RLIMIT_FSIZE, &previous);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = previous;
    small.rlim_cur = 64;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const int result = s.save();
    setrlimit(RLIMIT_FSIZE, &previous);
    std::signal(SIGXFSZ, previousHandler);

    EXPECT_EQ(result, 1);
    EXPECT_EQ(readFile(Settings::filePath()), before);
    EXPECT_EQ(QDir(QFileInfo(Settings::filePath()).absolutePath()).entryList(QDir::Files), QStringList({ "settings.xml" }))
        << "no temporary file left";
    s.load();
    EXPECT_EQ(s.value("AudioDevice"), "3. Speakers");
}

} // namespace
