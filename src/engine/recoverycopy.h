#pragma once

#include "core/zubtypes.h"
#include "engine/projectfile.h"
#include "engine/songsnapshot.h"
#include "loops/looprecorder.h"

#include <json/value.h>

#include <cstdio>
#include <functional>
#include <string>

class LoopPool;
class ZubEngine;

// A copy of a song with unsaved changes, kept in a folder of its own so that
// a crash or a kill loses nothing: the ideas with every loop's audio as the
// raw floats it plays (so it comes back bit for bit), its notes, beats and
// mute, the tempo, and what the loop recorder holds. Written like a save: into
// a fresh folder beside the copy, swapped in by renaming once every file is on
// disk, so a copy cut short leaves the previous one whole. write, find, read
// and remove run on any one thread at a time (the song files' thread); restore
// on the message thread.
class RecoveryCopy
{
public:
    // What the copy is of, for the question after a crash.
    struct Info
    {
        std::string song;     // the song's name: "My Song", "Untitled"
        std::string document; // the document it was opened from or saved to; empty when none
        int64 writtenAt = 0;  // seconds since 1970 (UTC)
    };
    struct Recovered
    {
        Info info;
        ProjectFile::LoadedSong song;
        std::size_t activeIdea = 0; // index into song.ideas
        LoopRecorder::Content recorder; // null audio when the recorder held nothing
    };

    explicit RecoveryCopy(std::string folder);

    const std::string& folder() const { return m_folder; }
    // The recorder's take is copied when it holds one (recorder may be
    // null), piece by piece while recording goes on. Returns 0, or 1 with a
    // log line and failure(); the previous copy is then kept.
    int write(const SongSnapshot& song, const LoopRecorder* recorder, const Info& info);
    // Whether a whole copy is there; info says what it is.
    bool find(Info& info) const;
    // Reads the whole copy; touches nothing of the engine. Returns 0, or 1
    // with failure() when it cannot be read.
    int read(LoopPool* loopPool, Recovered& recovered);
    // Removes the copy and whatever a cut-short write left.
    void remove() const;
    const std::string& failure() const { return m_failure; }

    // Replaces the current song with the recovered one, the unsaved mark set,
    // and tells the page "just_loaded". Message thread.
    static void restore(ZubEngine& engine, Recovered& recovered);

private:
    // The folder holding the newest whole copy; empty when there is none.
    std::string wholeCopy() const;
    // Writes and syncs the file; false (with failure()) when it could not.
    bool writeBytes(const std::string& path, const void* bytes, std::size_t size);
    // The same for what `fill` hands to the writer it is given.
    bool writeFile(const std::string& path, const std::function<bool(std::FILE*)>& fill);
    Json::Value recorderEntry(const LoopRecorder& recorder);
    void fail(const std::string& why);
    Json::Value loopEntry(const std::string& stage, const std::string& name, const LoopAudio* audio, int64 frames,
                          const TimedMidiEventList& notes, int32 numBeats);
    std::shared_ptr<const LoopAudio> readSamples(const std::string& copy, const Json::Value& entry);

    std::string m_folder;
    std::string m_stage;
    std::string m_old;
    std::string m_failure;
};
