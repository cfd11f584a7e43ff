#pragma once

#include <QString>
#include <QStringList>

// The songs opened or saved last, newest first, kept in the settings under
// "recent_songs" (one absolute path a line) and written to disk at each change.
class RecentSongs
{
public:
    static constexpr int kMaxSongs = 8;

    QStringList paths() const;
    // Puts the song first; the oldest beyond kMaxSongs drops out.
    void add(const QString& path);
    void remove(const QString& path);
    void clear();
    // Drops the songs whose document is gone; returns them.
    QStringList dropMissing();

private:
    void store(const QStringList& paths);
};
