#include "qt/installlayout.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#ifndef MOTIFO_DATA_DIR
#define MOTIFO_DATA_DIR "/usr/local/share/motifo"
#endif

InstallLayout::InstallLayout(const QString& applicationDir, const QString& dataDir)
{
    const QString buildPage = applicationDir + "/src/html";
    const QString installed = QDir::cleanPath(applicationDir + "/../share/motifo");
    if (QFileInfo::exists(buildPage + "/zub.html")) {
        m_pageDirectory = buildPage;
        m_contentDirectory = applicationDir;
        return;
    }
    const QString root = QFileInfo::exists(installed + "/html/zub.html") ? installed : QDir::cleanPath(dataDir);
    m_pageDirectory = root + "/html";
    m_contentDirectory = root;
}

InstallLayout InstallLayout::forThisProgram()
{
    return InstallLayout(QCoreApplication::applicationDirPath(), QString(MOTIFO_DATA_DIR));
}
