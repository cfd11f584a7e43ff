#pragma once

#include <QMap>
#include <QString>

// The user's settings: a string map kept in one XML file in the per-user
// data location, read on first use and written as a whole.
class Settings
{
public:
    static Settings& instance();

    QString value(const QString& key) const { return m_values.value(key); }
    void setValue(const QString& key, const QString& value);
    const QMap<QString, QString>& values() const { return m_values; }

    // Returns 0, or 1 with a log line when the file could not be written; the
    // previous file is then kept whole.
    int save();
    // Replaces the map with the file's entries.
    void load();

    static QString filePath();

private:
    Settings() = default;

    QMap<QString, QString> m_values;
};
