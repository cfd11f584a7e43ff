#include "qt/applicationfinder.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

// A folder tree standing in for the system's disk.
class FakeTree
{
public:
    void folder(const QString& path) { QDir().mkpath(root() + "/" + path); }
    void program(const QString& path)
    {
        folder(QFileInfo(path).path());
        QFile f(root() + "/" + path);
        f.open(QIODevice::WriteOnly);
        f.write("#!/bin/sh\n");
        f.setPermissions(f.permissions() | QFileDevice::ExeOwner);
    }
    QString root() const { return m_dir.path(); }

private:
    QTemporaryDir m_dir;
};

TEST(ApplicationFinder, WindowsRulesLaterFindsWin)
{
    struct Case {
        const char* what;
        QStringList folders;
        QMap<int, QString> expected; // paths below the root
    };
    const Case cases[] = {
        { "nothing installed", {}, {} },
        { "Live 9 over Live 8",
            { "ProgramData/Ableton/Live 8/Program", "ProgramData/Ableton/Live 9/Program" },
            { { 0, "/ProgramData/Ableton/Live 9/Program/Ableton Live 9.exe" } } },
        { "FL Studio 9 over 10 in the 32-bit folder",
            { "Program Files (x86)/Image-Line/FL Studio 10", "Program Files (x86)/Image-Line/FL Studio 9" },
            { { 1, "/Program Files (x86)/Image-Line/FL Studio 9/FL.exe" } } },
        { "64-bit FL Studio 10 over 32-bit FL Studio 8",
            { "Program Files (x86)/Image-Line/FL Studio 8", "Program Files/Image-Line/FL Studio 10" },
            { { 1, "/Program Files/Image-Line/FL Studio 10/FL.exe" } } },
        { "REAPER 64-bit over 32-bit", { "Program Files (x86)/REAPER", "Program Files/REAPER" },
            { { 8, "/Program Files/REAPER/reaper.exe" } } },
        { "REAPER 32-bit alone", { "Program Files (x86)/REAPER" },
            { { 8, "/Program Files (x86)/REAPER/reaper.exe" } } },
        { "names are case-sensitive", { "Program Files/image-line/FL Studio 8", "Program Files/Reaper" }, {} },
    };
    for (const Case& c : cases) {
        FakeTree tree;
        for (const QString& f : c.folders)
            tree.folder(f);
        QMap<int, QString> expected;
        for (auto it = c.expected.cbegin(); it != c.expected.cend(); ++it)
            expected[it.key()] = tree.root() + it.value();
        EXPECT_EQ(ApplicationFinder(tree.root(), tree.root() + "/home", {}).findWindowsDaws(), expected) << c.what;
    }
}

TEST(ApplicationFinder, LinuxFindsReaperArdourAndBitwig)
{
    FakeTree tree;
    tree.program("home/opt/REAPER/reaper");
    tree.program("opt/Ardour-8.10.0-x86_64/bin/ardour8");
    tree.program("opt/Ardour-8.9.0-x86_64/bin/ardour8");
    tree.program("opt/Ardour-8.10.0-x86_64/bin/ardour8-lua");
    tree.program("usr/bin/bitwig-studio");
    const ApplicationFinder finder(tree.root(), tree.root() + "/home", { tree.root() + "/usr/bin" });
    const QMap<int, QString> found = finder.findLinuxDaws();
    EXPECT_EQ(found.value(ApplicationFinder::REAPER), tree.root() + "/home/opt/REAPER/reaper");
    EXPECT_EQ(found.value(ApplicationFinder::ARDOUR).toStdString(), (tree.root() + "/opt/Ardour-8.10.0-x86_64/bin/ardour8").toStdString());
    EXPECT_EQ(found.value(ApplicationFinder::BITWIG_STUDIO), tree.root() + "/usr/bin/bitwig-studio");
}

TEST(ApplicationFinder, LinuxIgnoresWhatCannotRun)
{
    FakeTree tree;
    tree.folder("opt/REAPER/reaper"); // a folder, not a program
    tree.folder("usr/bin");
    QFile plain(tree.root() + "/usr/bin/ardour");
    plain.open(QIODevice::WriteOnly); // not executable
    plain.close();
    tree.program("usr/local/bin/reaper");
    const ApplicationFinder finder(
        tree.root(), tree.root() + "/home", { tree.root() + "/usr/bin", tree.root() + "/usr/local/bin" });
    const QMap<int, QString> found = finder.findLinuxDaws();
    EXPECT_EQ(found.value(ApplicationFinder::REAPER), tree.root() + "/usr/local/bin/reaper");
    EXPECT_FALSE(found.contains(ApplicationFinder::ARDOUR));
    EXPECT_FALSE(found.contains(ApplicationFinder::BITWIG_STUDIO));
}

} // namespace
