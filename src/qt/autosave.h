#pragma once

#include "engine/recoverycopy.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>

class ZubEngine;

// Keeps a recovery copy of the song while it has unsaved changes or the loop
// recorder holds a take being recorded: at most once per interval (the
// "AutosaveSeconds" setting, 60 by default), written on the song files'
// thread from a snapshot, so the music plays on. GUI thread only.
class Autosave : public QObject
{
    Q_OBJECT
public:
    // describe names the song and its document when a copy is taken.
    Autosave(ZubEngine* engine, QString folder, std::function<RecoveryCopy::Info()> describe, QObject* parent);
    ~Autosave() override;

    // The per-user data folder's "Recovery".
    static QString defaultFolder();

    // Whether a copy from before is there to offer, and what it is. Any
    // time, also before start().
    bool find(RecoveryCopy::Info& info) const;
    // Reads the copy on the song files' thread; `read` is called there.
    void read(std::function<void(int result, std::shared_ptr<RecoveryCopy::Recovered>, std::string failure)> read);

    // From now on changes are copied.
    void start();
    // The song's state is safe elsewhere (saved, or given up on purpose):
    // the copy goes. Writes already asked for finish first.
    void discard();
    // The program closes as asked: the copy goes and no other is taken.
    void finish();
    // Takes a copy now when something is not copied yet.
    void writeIfChanged();
    // The program ends without a question: a copy still being written holds
    // the song as it was when it began, so it finishes first and what
    // changed since is copied after it.
    void writeBeforeExit();

private:
    void write();

    ZubEngine* m_pEngine;
    // Used on the song files' thread only, once created.
    std::shared_ptr<RecoveryCopy> m_pCopy;
    std::function<RecoveryCopy::Info()> m_describe;
    QTimer m_timer;
    bool m_bStarted = false;
    bool m_bWriting = false;
    // The project's change count of the last copy; none after a discard.
    uint64_t m_copiedChange = UINT64_MAX;
};
