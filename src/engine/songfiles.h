#pragma once

#include "core/jobthread.h"
#include "engine/projectfile.h"

#include <functional>
#include <memory>
#include <mutex>
#include <string>

class NativeJsBridge;
class ZubEngine;

// Saving and opening songs on a thread of their own. A save writes a
// snapshot of the song taken on the message thread in a few pointer copies,
// so the music plays on while the files are written; an open reads every
// file before the song it replaces is touched, so the old song plays until
// the new one is whole. Jobs run one at a time, in order. Progress and
// results go to the page as "song_file" messages:
//   { "song_file" : { "state" : "saving", "fraction" : 0.4, "path" : "..." } }
// with the states "saving", "saved", "save_failed" and "opening"; whoever
// takes an opened song in reports "opened" or "open_failed".
class SongFiles
{
public:
    // Both run on the worker thread; the message thread takes it from there.
    // changeCount is the project's when the snapshot was taken; failure says
    // why a save failed.
    using Saved = std::function<void(int result, uint64_t changeCount, const std::string& failure)>;
    using Opened = std::function<void(std::shared_ptr<ProjectFile::LoadedSong> song)>;

    explicit SongFiles(ZubEngine* engine);
    ~SongFiles();

    SongFiles(const SongFiles&) = delete;
    SongFiles& operator=(const SongFiles&) = delete;

    // Once this returns, the previous bridge is not used again.
    void setJsBridge(NativeJsBridge* bridge);

    // Message thread.
    void save(const std::string& documentPath, Saved done);
    void open(const std::string& documentPath, const std::string& documentsFolder, Opened done);
    // Any other work on the same thread, after what was asked for before.
    void post(std::function<void()> job);
    // Returns once everything asked for so far is done.
    void wait();
    bool isBusy() const;

    // Any thread: tells the page how a job goes.
    void report(const std::string& state, const std::string& path, double fraction = -1.0);

private:
    ZubEngine* m_pEngine;
    std::mutex m_bridgeMutex;
    NativeJsBridge* m_pBridge = nullptr;
    // Last: its jobs end before what they use goes.
    JobThread m_worker;
};
