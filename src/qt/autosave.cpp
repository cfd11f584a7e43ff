#include "qt/autosave.h"

#include "engine/project.h"
#include "engine/songfiles.h"
#include "engine/songsnapshot.h"
#include "engine/zubengine.h"
#include "loops/looprecorder.h"
#include "qt/settings.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDebug>
#include <QFile>
#include <QStandardPaths>

namespace {

constexpr int kDefaultSeconds = 60;

int intervalSeconds()
{
    bool ok = false;
    const int seconds = Settings::instance().value("AutosaveSeconds").toInt(&ok);
    return ok && seconds > 0 ? seconds : kDefaultSeconds;
}

} // namespace

Autosave::Autosave(ZubEngine* engine, QString folder, std::function<RecoveryCopy::Info()> describe, QObject* parent)
    : QObject(parent)
    , m_pEngine(engine)
    , m_pCopy(std::make_shared<RecoveryCopy>(QFile::encodeName(folder).toStdString()))
    , m_describe(std::move(describe))
{
    m_timer.setInterval(intervalSeconds() * 1000);
    connect(&m_timer, &QTimer::timeout, this, &Autosave::writeIfChanged);
}

Autosave::~Autosave()
{
    // The jobs below hold the copy, not this.
    m_pEngine->songFiles()->wait();
}

QString Autosave::defaultFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + "/Recovery";
}

bool Autosave::find(RecoveryCopy::Info& info) const
{
    return m_pCopy->find(info);
}

void Autosave::read(std::function<void(int, std::shared_ptr<RecoveryCopy::Recovered>, std::string)> read)
{
    auto copy = m_pCopy;
    LoopPool* pool = m_pEngine->loopPool();
    m_pEngine->songFiles()->post([copy, pool, read = std::move(read)] {
        auto recovered = std::make_shared<RecoveryCopy::Recovered>();
        const int result = copy->read(pool, *recovered);
        read(result, recovered, copy->failure());
    });
}

void Autosave::start()
{
    m_bStarted = true;
    m_timer.start();
}

void Autosave::discard()
{
    if (!m_bStarted)
        return;
    m_copiedChange = UINT64_MAX;
    auto copy = m_pCopy;
    m_pEngine->songFiles()->post([copy] { copy->remove(); });
}

void Autosave::finish()
{
    discard();
    m_bStarted = false;
    m_timer.stop();
}

void Autosave::writeIfChanged()
{
    if (!m_bStarted || m_bWriting)
        return;
    const Project* project = m_pEngine->project();
    const LoopRecorder* recorder = m_pEngine->loopRecorder();
    const bool songChanged = project->isModified() && project->changeCount() != m_copiedChange;
    // A take being recorded changes all the time; it is copied each time.
    const bool takeRecorded = recorder->isRecording() && recorder->holdsRecording();
    if (songChanged || takeRecorded)
        write();
}

void Autosave::writeBeforeExit()
{
    m_pEngine->songFiles()->wait();
    // The finished copy's report is queued to this thread, whose event loop
    // may not run again: take it now.
    QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
    writeIfChanged();
}

void Autosave::write()
{
    // Message thread: the song in a few pointer copies.
    auto song = std::make_shared<const SongSnapshot>(SongSnapshot::take(*m_pEngine));
    RecoveryCopy::Info info = m_describe();
    info.writtenAt = QDateTime::currentSecsSinceEpoch();
    m_copiedChange = song->changeCount;
    m_bWriting = true;
    auto copy = m_pCopy;
    LoopRecorder* recorder = m_pEngine->loopRecorder();
    // Song files' thread: the recorder is read in short holds of its lock.
    // The destructor waits for this job, so `this` is still there.
    m_pEngine->songFiles()->post([this, copy, song, info, recorder] {
        const bool written = copy->write(*song, recorder, info) == 0;
        const QString failure = QString::fromStdString(copy->failure());
        QMetaObject::invokeMethod(this, [this, written, failure] {
            m_bWriting = false;
            if (!written) {
                qWarning().noquote() << "The recovery copy could not be written:" << failure;
                m_copiedChange = UINT64_MAX; // tried again next time
            }
        }, Qt::QueuedConnection);
    });
}
