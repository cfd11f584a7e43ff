#include "qt/zubdocument.h"

#include "engine/jsonfield.h"
#include "engine/zubtypes.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <json/reader.h>

ZubDocument::Contents ZubDocument::read(const QString& path)
{
    Contents contents;
    QFile file(path);
    const QByteArray text = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    Json::Value root;
    Json::Reader reader;
    const bool parsed = reader.parse(text.constData(), text.constData() + text.size(), root, false) && root.isObject();
    const Json::Value project = parsed ? root["project"] : Json::Value();
    const double bpm = project.isObject() ? JsonField::toDouble(project["bpm"], 0.0) : 0.0;
    if (bpm >= ZUB_MIN_BPM && bpm <= ZUB_MAX_BPM) {
        contents.bpm = bpm;
        qDebug() << "Read the tempo and set it as: " << bpm;
    } else {
        qDebug() << "Failed to find tempo in project file, defaulting to 120 bpm.";
    }
    if (project.isObject())
        contents.guid = JsonField::toInt64(project["mac_sandbox_guid"], 0);
    return contents;
}

int ZubDocument::write(const QString& path, double bpm)
{
    Json::Value root;
    root["project"]["bpm"] = bpm;
    root["project"]["modified_since_last_save"] = false;
    const std::string text = JsonField::styled(root);
    // The old document stays whole until the new one is complete.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(text.data(), qint64(text.size())) != qint64(text.size())
        || !file.commit()) {
        qDebug() << "Failed to open" << path << "for writing.";
        return 1;
    }
    const QFileInfo info(path);
    if (!QDir(info.absolutePath()).mkpath(audioFolderName(path))) {
        qDebug() << "Failed to create" << audioFolder(path, 0, QString());
        return 1;
    }
    return 0;
}

QString ZubDocument::audioFolderName(const QString& documentPath)
{
    return QString("%1 - Audio and MIDI").arg(QFileInfo(documentPath).completeBaseName());
}

QString ZubDocument::audioFolder(const QString& documentPath, long long guid, const QString& documentsFolder)
{
    const QString base = guid != 0 ? documentsFolder : QFileInfo(documentPath).absolutePath();
    return base + "/" + audioFolderName(documentPath);
}
