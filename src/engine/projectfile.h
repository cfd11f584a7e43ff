#pragma once

#include "core/zubtypes.h"
#include "engine/songsnapshot.h"
#include "loops/idea.h"

#include <json/value.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

class LoopPool;
class PlaybackEngine;
class ZubEngine;

// A project on disk: the JSON document ("*.zub") and, next to it, its
// "%1 - Audio and MIDI" folder with one sub-folder of loop files, one mixdown
// and one Standard MIDI File per idea that has loops. Writing works from a
// snapshot of the song and reading touches nothing of the engine, so both
// may run on any thread while the music plays; the rest is for the message
// thread.
class ProjectFile
{
public:
    // Told the fraction of the files written so far.
    using Progress = std::function<void(double fraction)>;
    // A song read from disk that is not part of the engine yet.
    struct LoadedSong
    {
        std::string documentPath;
        // Whether there is a song to take in: a good document, or a damaged
        // one whose audio folder holds ideas.
        bool opened = false;
        // What was wrong with the document; empty when nothing was.
        std::string failure;
        float bpm = 120.0f; // within the engine's range
        std::vector<std::unique_ptr<Idea>> ideas; // their loops are in no pool yet
    };

    explicit ProjectFile(ZubEngine* engine);

    // Writes the document and its audio folder. The folder is written afresh
    // beside the old one and swapped in only when complete, so a failed save
    // leaves the previous save whole and a reload gives exactly what was
    // saved. Returns 0, or 1 with log lines and failure(); clears the
    // modified flag on success.
    int save(const std::string& documentPath);
    // The same for a snapshot, on any thread; the modified flag is left alone.
    int write(const SongSnapshot& song, const std::string& documentPath, const Progress& progress = {});
    // Puts back the previous save when a save of this document was stopped
    // part way (the process was killed or the machine went down), and removes
    // what such a save left beside it. save() and open() call it first.
    // Returns 0, or 1 with log lines when the files could not be moved.
    static int recoverInterruptedSave(const std::string& documentPath);
    // Called with each file or folder name once a save has written or moved
    // it; lets a test stop a save at a chosen moment.
    void setStepHook(std::function<void(const std::string&)> hook);
    // Clears the project, takes the tempo from "project"."bpm" (120 when it is
    // missing, unreadable or out of range) and loads one idea per sub-folder
    // of the audio folder, which lies in documentsFolder for a non-zero
    // "mac_sandbox_guid". Tells the page "just_loaded" and clears the modified
    // flag and returns 0. A damaged document whose audio folder holds ideas
    // opens those, with failure() saying what was wrong. Returns 1 with
    // failure() when nothing could be opened; the current song is then as it
    // was.
    int open(const std::string& documentPath, const std::string& documentsFolder);
    // The same in two steps. Reading, on any thread, touches nothing of the
    // engine; adopting, on the message thread, replaces the current song
    // (when the read one opened) and returns what open returns.
    static LoadedSong read(const std::string& documentPath, const std::string& documentsFolder, LoopPool* loopPool);
    int adopt(LoadedSong& song);
    // Why the last save or open failed, in the system's or plain words
    // ("No space left on device", "it is not a Motifo song, or it is
    // damaged"); empty after a success.
    const std::string& failure() const { return m_failure; }
    // Reads and parses a song document; returns why it cannot be opened, or
    // an empty text with the document in root. damaged, when given, tells a
    // file that was read but is no song document from one that was not read.
    static std::string readDocument(const std::string& documentPath, Json::Value& root, bool* damaged = nullptr);
    // Whether the audio folder beside the document has an idea folder.
    static bool audioFolderHoldsIdeas(const std::string& documentPath);

    // The writers, into an existing folder. Each returns 0, or 1 with a log
    // line for every file that could not be written (the others are written).
    int saveAudio(const std::string& folder);
    int saveMidi(const std::string& folder);
    int writeAudio(const SongSnapshot& song, const std::string& folder);
    int writeMidi(const SongSnapshot& song, const std::string& folder);
    // The file and folder names the writers use, for the ideas with loops in
    // collection order.
    std::vector<std::string> ideaFileNames() const;

    static std::string audioFolderName(const std::string& documentPath);
    static std::string audioFolder(const std::string& documentPath, int64 guid, const std::string& documentsFolder);

private:
    struct SavePaths;
    // An idea the document names: its folder, its real name, its loops'
    // beats and mutes.
    struct NamedIdea {
        std::string folder;
        std::string name;
        std::vector<int> loopBeats;
        std::vector<bool> loopMutes;
    };
    int writeIdeaAudio(const std::string& folder, const SongSnapshot::IdeaEntry& idea);
    int writeIdeaMidi(const std::string& folder, const SongSnapshot::IdeaEntry& idea, float bpm);
    int renderFile(const std::string& path, PlaybackEngine* source, int64 numFrames);
    bool writeSynced(const std::string& path, const std::string& text);
    void fail(const std::string& reason);
    static std::string documentText(const SongSnapshot& song);
    int swapIn(const SavePaths& paths);
    void reached(const std::string& path);
    static std::vector<std::unique_ptr<Idea>> readIdeas(const std::string& audioFolder,
                                                        const std::vector<NamedIdea>& named, double bpm,
                                                        LoopPool* loopPool);

    ZubEngine* m_pEngine;
    std::function<void(const std::string&)> m_stepHook;
    std::string m_failure;
    // While writing: what the progress counts.
    Progress m_progress;
    int m_iFilesWritten = 0;
    int m_iFilesToWrite = 0;
};
