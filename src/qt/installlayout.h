#pragma once

#include <QString>

// Where this copy of Motifo keeps its page and its content. A build tree has
// the page in <program folder>/src/html and res/ beside the program; an
// installation has both in <prefix>/share/motifo (html/ and res/), found from
// the program's own folder so that a moved installation still uses its own
// files. The page and the content always come from the same copy.
class InstallLayout
{
public:
    // dataDir: the installed data folder built into the program, used when
    // the program no longer sits in its build tree or installation.
    InstallLayout(const QString& applicationDir, const QString& dataDir);
    // The running program's layout.
    static InstallLayout forThisProgram();

    // The folder that holds zub.html.
    QString pageDirectory() const { return m_pageDirectory; }
    // The folder that holds res/ (which may be missing).
    QString contentDirectory() const { return m_contentDirectory; }

private:
    QString m_pageDirectory;
    QString m_contentDirectory;
};
