// The settings file in the user's data folder: whatever it holds, loading
// gives a map, and saving that map and loading it again gives the same map.
#include "qt/settings.h"
#include "support/fuzzfile.h"

#include <QCoreApplication>
#include <QDir>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    FuzzFile::silenceLogs();
    setenv("XDG_DATA_HOME", FuzzFile::folder().c_str(), 1);
    static QCoreApplication app(*argc, *argv);
    QCoreApplication::setOrganizationName("Quavertone");
    QCoreApplication::setApplicationName("Motifo");
    qSetMessagePattern("");
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) { });
    QDir().mkpath(QFileInfo(Settings::filePath()).absolutePath());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    Settings& settings = Settings::instance();
    QFile file(Settings::filePath());
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        std::abort();
    file.write(reinterpret_cast<const char*>(data), qint64(size));
    file.close();

    settings.load();
    const QMap<QString, QString> loaded = settings.values();
    settings.save();
    settings.load();
    if (settings.values() != loaded)
        std::abort(); // a saved map must read back as it was
    return 0;
}
