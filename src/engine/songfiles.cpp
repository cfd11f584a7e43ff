#include "engine/songfiles.h"

#include "core/jsonfield.h"
#include "core/nativejsbridge.h"
#include "engine/songsnapshot.h"
#include "engine/zubengine.h"

#include <utility>

SongFiles::SongFiles(ZubEngine* engine)
    : m_pEngine(engine)
{
}

SongFiles::~SongFiles()
{
    m_worker.wait();
}

void SongFiles::setJsBridge(NativeJsBridge* bridge)
{
    std::lock_guard lock(m_bridgeMutex);
    m_pBridge = bridge;
}

void SongFiles::report(const std::string& state, const std::string& path, double fraction)
{
    Json::Value root(Json::objectValue);
    Json::Value& file = root["song_file"];
    file["state"] = state;
    file["path"] = path;
    if (fraction >= 0.0)
        file["fraction"] = fraction;
    const std::string text = JsonField::styled(root);
    std::lock_guard lock(m_bridgeMutex);
    if (m_pBridge)
        m_pBridge->postMessage(text);
}

void SongFiles::save(const std::string& documentPath, Saved done)
{
    auto song = std::make_shared<const SongSnapshot>(SongSnapshot::take(*m_pEngine));
    report("saving", documentPath, 0.0);
    m_worker.post([this, song, documentPath, done = std::move(done)] {
        ProjectFile file(m_pEngine);
        const int result = file.write(*song, documentPath,
            [&](double fraction) { report("saving", documentPath, fraction); });
        report(result == 0 ? "saved" : "save_failed", documentPath);
        if (done)
            done(result, song->changeCount, file.failure());
    });
}

void SongFiles::open(const std::string& documentPath, const std::string& documentsFolder, Opened done)
{
    report("opening", documentPath);
    LoopPool* pool = m_pEngine->loopPool();
    m_worker.post([this, documentPath, documentsFolder, pool, done = std::move(done)] {
        auto song = std::make_shared<ProjectFile::LoadedSong>(ProjectFile::read(documentPath, documentsFolder, pool));
        if (done)
            done(std::move(song));
    });
}

void SongFiles::post(std::function<void()> job)
{
    m_worker.post(std::move(job));
}

void SongFiles::wait()
{
    m_worker.wait();
}

bool SongFiles::isBusy() const
{
    return m_worker.isBusy();
}
