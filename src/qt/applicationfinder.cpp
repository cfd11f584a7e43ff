#include "qt/applicationfinder.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QVersionNumber>
#include <algorithm>
#include <cstring>

namespace {

QStringList subfolders(const QString& path)
{
    return QDir(path).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
}

bool isProgram(const QString& path)
{
    const QFileInfo info(path);
    return info.isFile() && info.isExecutable();
}

// FL Studio: later versions in the list replace earlier ones, so 8 wins.
void findFlStudio(QMap<int, QString>& found, const QString& programFiles, const QString& suffix)
{
    const QString dir = QDir(programFiles).absolutePath();
    for (const char* version : { "FL Studio 10", "FL Studio 9", "FL Studio 8" }) {
        if (QFileInfo(dir + "/Image-Line/" + version).isDir()) {
            qDebug() << QString("Found %1%2").arg(version, suffix);
            found[ApplicationFinder::FL_STUDIO] = dir + "/Image-Line/" + version + "/FL.exe";
        }
    }
}

} // namespace

ApplicationFinder::ApplicationFinder(const QString& root, const QString& home, const QStringList& searchPath)
    : m_root(root)
    , m_home(home)
    , m_searchPath(searchPath)
{
}

ApplicationFinder ApplicationFinder::forThisSystem()
{
#ifdef Q_OS_WIN
    return ApplicationFinder("C:", QDir::homePath(), {});
#else
    const QStringList path = QString::fromLocal8Bit(qgetenv("PATH")).split(':', Qt::SkipEmptyParts);
    return ApplicationFinder("", QDir::homePath(), path);
#endif
}

QMap<int, QString>& ApplicationFinder::dawExecutablePaths()
{
    static QMap<int, QString> paths;
    return paths;
}

QMap<int, QString> ApplicationFinder::findInstalledDaws() const
{
#ifdef Q_OS_WIN
    return findWindowsDaws();
#else
    return findLinuxDaws();
#endif
}

QMap<int, QString> ApplicationFinder::findWindowsDaws() const
{
    QMap<int, QString> found;
    const QString programFiles = m_root + "/Program Files";
    const QString programFilesX86 = m_root + "/Program Files (x86)";
    const QStringList list64 = subfolders(programFiles);
    const QStringList list32 = subfolders(programFilesX86);

    for (const char* live : { "Live 8", "Live 9" }) {
        const QString dir = m_root + "/ProgramData/Ableton/" + live + "/Program";
        if (QFileInfo(dir).isDir()) {
            qDebug() << "Found Ableton Live: " << dir;
            found[ABLETON_LIVE] = QDir(dir).absolutePath() + "/Ableton " + live + ".exe";
        }
    }
    if (list32.contains("Image-Line")) {
        qDebug() << "Found Image-Line (x86)";
        findFlStudio(found, programFilesX86, " (x86)");
    }
    if (list64.contains("Image-Line")) {
        qDebug() << "Found Image-Line";
        findFlStudio(found, programFiles, "");
    }
    if (list32.contains("REAPER")) {
        qDebug() << "Found REAPER (x86)";
        found[REAPER] = QDir(programFilesX86).absolutePath() + "/REAPER/reaper.exe";
    }
    if (list64.contains("REAPER")) {
        qDebug() << "Found REAPER (64-bit)";
        found[REAPER] = QDir(programFiles).absolutePath() + "/REAPER/reaper.exe";
    }
    return found;
}

QMap<int, QString> ApplicationFinder::findLinuxDaws() const
{
    QMap<int, QString> found;
    const QString reaper = findExecutable(
        { m_root + "/opt/REAPER/reaper", m_home + "/opt/REAPER/reaper" }, { "reaper" });
    const QString ardour = findExecutable({ newestArdourInOpt() }, { "ardour8", "ardour7", "ardour6", "ardour" });
    const QString bitwig = findExecutable({ m_root + "/opt/bitwig-studio/bitwig-studio" }, { "bitwig-studio" });
    for (const auto& [app, path] : { std::pair { int(REAPER), reaper }, { int(ARDOUR), ardour }, { int(BITWIG_STUDIO), bitwig } }) {
        if (path.isEmpty())
            continue;
        qDebug() << "Found" << path;
        found[app] = path;
    }
    return found;
}

QString ApplicationFinder::findExecutable(const QStringList& candidates, const QStringList& namesOnPath) const
{
    for (const QString& c : candidates)
        if (!c.isEmpty() && isProgram(c))
            return QFileInfo(c).absoluteFilePath();
    for (const QString& name : namesOnPath) {
        for (const QString& dir : m_searchPath)
            if (isProgram(dir + "/" + name))
                return QFileInfo(dir + "/" + name).absoluteFilePath();
    }
    return QString();
}

QString ApplicationFinder::newestArdourInOpt() const
{
    // Ardour's own installer: /opt/Ardour-8.4.0-x86_64/bin/ardour8.
    QStringList installs = QDir(m_root + "/opt").entryList({ "Ardour-*" }, QDir::Dirs);
    auto version = [](const QString& dir) { return QVersionNumber::fromString(dir.mid(int(strlen("Ardour-")))); };
    std::sort(installs.begin(), installs.end(), [&](const QString& a, const QString& b) { return version(a) > version(b); });
    static const QRegularExpression program("^ardour\\d*$");
    for (const QString& dir : installs) {
        const QString bin = m_root + "/opt/" + dir + "/bin";
        for (const QString& name : QDir(bin).entryList(QDir::Files | QDir::Executable))
            if (program.match(name).hasMatch())
                return bin + "/" + name;
    }
    return QString();
}
