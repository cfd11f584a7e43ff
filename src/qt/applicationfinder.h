#pragma once

#include <QMap>
#include <QString>
#include <QStringList>

// Finds the music applications that Instant Export can launch. The search
// runs below a root folder (the system's, or a test tree) and returns
// application number -> executable path.
class ApplicationFinder
{
public:
    enum Application {
        ABLETON_LIVE = 0,
        FL_STUDIO = 1,
        PRO_TOOLS = 2,
        GARAGEBAND = 3,
        LOGIC_PRO = 4,
        CUBASE = 5,
        STUDIO_ONE = 6,
        REASON = 7,
        REAPER = 8,
        ARDOUR = 9,
        BITWIG_STUDIO = 10,
    };

    // `root` stands for "C:" on Windows and "/" elsewhere; `searchPath` is
    // the list of folders of PATH.
    ApplicationFinder(const QString& root, const QString& home, const QStringList& searchPath);
    static ApplicationFinder forThisSystem();

    // The rules of the platform the program runs on.
    QMap<int, QString> findInstalledDaws() const;
    // Program Files and the Ableton program data; later finds win.
    QMap<int, QString> findWindowsDaws() const;
    // REAPER, Ardour and Bitwig Studio in /opt, ~/opt and on PATH.
    QMap<int, QString> findLinuxDaws() const;

    // Filled once when the main window is built; an unknown number has no path.
    static QMap<int, QString>& dawExecutablePaths();

private:
    QString findExecutable(const QStringList& candidates, const QStringList& namesOnPath) const;
    QString newestArdourInOpt() const;

    QString m_root;
    QString m_home;
    QStringList m_searchPath;
};
