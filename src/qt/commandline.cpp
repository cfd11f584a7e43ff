#include "qt/commandline.h"

#include <QDebug>
#include <QFileInfo>
#include <QUrl>
#include <cstdio>
#include <cstring>

bool CommandLine::answeredAlone(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("Motifo %s\n", MOTIFO_VERSION);
            return true;
        }
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::printf("Usage: motifo [song.zub]\n"
                        "Sketch songs by playing along with yourself.\n\n"
                        "  song.zub   opens the song; a running Motifo opens it instead\n"
                        "  --version  prints the version\n"
                        "  --help     prints this text\n\n"
                        "MOTIFO_LOG=debug adds per-note and per-buffer lines to the log.\n");
            return true;
        }
    }
    return false;
}

QStringList CommandLine::songs(const QStringList& arguments)
{
    QStringList songs;
    for (int i = 1; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (argument.startsWith('-'))
            qDebug() << "Ignoring the option" << argument;
        else if (argument.startsWith("file:"))
            songs << QFileInfo(QUrl(argument).toLocalFile()).absoluteFilePath();
        else
            songs << QFileInfo(argument).absoluteFilePath();
    }
    return songs;
}
