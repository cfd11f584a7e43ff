#include "qt/recentsongs.h"

#include "qt/settings.h"

#include <QFileInfo>

namespace {

const char* const kKey = "recent_songs";

QString normalized(const QString& path)
{
    return QFileInfo(path).absoluteFilePath();
}

} // namespace

QStringList RecentSongs::paths() const
{
    return Settings::instance().value(kKey).split('\n', Qt::SkipEmptyParts);
}

void RecentSongs::add(const QString& path)
{
    const QString song = normalized(path);
    // A line break would split the entry in two.
    if (song.contains('\n'))
        return;
    QStringList songs = paths();
    songs.removeAll(song);
    songs.prepend(song);
    store(songs.mid(0, kMaxSongs));
}

void RecentSongs::remove(const QString& path)
{
    QStringList songs = paths();
    songs.removeAll(normalized(path));
    store(songs);
}

void RecentSongs::clear()
{
    store({});
}

QStringList RecentSongs::dropMissing()
{
    QStringList kept, missing;
    for (const QString& song : paths())
        (QFileInfo(song).isFile() ? kept : missing) << song;
    if (!missing.isEmpty())
        store(kept);
    return missing;
}

void RecentSongs::store(const QStringList& paths)
{
    Settings::instance().setValue(kKey, paths.join('\n'));
    // Written at once: the list is there after a crash too.
    Settings::instance().save();
}
