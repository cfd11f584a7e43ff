#include "qt/settings.h"

#include <QDebug>
#include <QDir>
#include <QDomDocument>
#include <QFile>
#include <QSaveFile>
#include <QStandardPaths>

Settings& Settings::instance()
{
    static Settings* settings = [] {
        auto* s = new Settings;
        s->load();
        return s;
    }();
    return *settings;
}

QString Settings::filePath()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + "/settings.xml";
}

void Settings::setValue(const QString& key, const QString& value)
{
    m_values.insert(key, value);
}

void Settings::load()
{
    m_values.clear();
    QFile file(filePath());
    QDomDocument doc("settings");
    if (!file.open(QIODevice::ReadOnly) || !doc.setContent(&file)) {
        file.close();
        qDebug() << "Creating default settings";
        save();
        return;
    }
    file.close();
    for (QDomNode n = doc.documentElement().firstChild(); !n.isNull(); n = n.nextSibling()) {
        const QDomElement e = n.toElement();
        if (!e.isNull())
            m_values.insert(e.tagName(), e.text());
    }
}

int Settings::save()
{
    const QString path = filePath();
    QDir().mkpath(QFileInfo(path).absolutePath());
    QDomDocument doc("settings");
    QDomElement root = doc.createElement("settings");
    doc.appendChild(root);
    for (auto it = m_values.cbegin(); it != m_values.cend(); ++it) {
        QDomElement e = doc.createElement(it.key());
        e.appendChild(doc.createTextNode(it.value()));
        root.appendChild(e);
    }
    // Written beside the old file and swapped in whole, so a failed write
    // (a full disk, a crash) leaves the previous settings.
    QSaveFile file(path);
    const QByteArray bytes = doc.toString(1).toUtf8();
    // A write cut short can pass unnoticed by QFile: the size tells.
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.flush()
        || file.size() != bytes.size() || !file.commit()) {
        qDebug() << "Failed to write to" << path << file.errorString();
        return 1;
    }
    return 0;
}
