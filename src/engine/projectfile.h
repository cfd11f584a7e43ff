#pragma once

#include "core/zubtypes.h"

#include <json/value.h>

#include <functional>
#include <string>
#include <vector>

class Idea;
class PlaybackEngine;
class ZubEngine;

// A project on disk: the JSON document ("*.zub") and, next to it, its
// "%1 - Audio and MIDI" folder with one sub-folder of loop files, one mixdown
// and one Standard MIDI File per idea that has loops. GUI thread only.
class ProjectFile
{
public:
    explicit ProjectFile(ZubEngine* engine);

    // Writes the document and its audio folder. The folder is written afresh
    // beside the old one and swapped in only when complete, so a failed save
    // leaves the previous save whole and a reload gives exactly what was
    // saved. Returns 0, or 1 with log lines and failure(); clears the
    // modified flag on success.
    int save(const std::string& documentPath);
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
    // The file and folder names the writers use, for the ideas with loops in
    // collection order.
    std::vector<std::string> ideaFileNames() const;

    static std::string audioFolderName(const std::string& documentPath);
    static std::string audioFolder(const std::string& documentPath, int64 guid, const std::string& documentsFolder);

private:
    struct SavePaths;
    struct SavedIdea {
        Idea* idea;
        std::string fileName;
    };
    // An idea the document names: its folder, its real name, its loops' beats.
    struct NamedIdea {
        std::string folder;
        std::string name;
        std::vector<int> loopBeats;
    };
    std::vector<SavedIdea> savedIdeas() const;
    int writeIdeaAudio(const std::string& folder, const SavedIdea& saved);
    int writeIdeaMidi(const std::string& folder, const SavedIdea& saved);
    int renderFile(const std::string& path, PlaybackEngine* source, int64 numFrames);
    bool writeSynced(const std::string& path, const std::string& text);
    void fail(const std::string& reason);
    std::string documentText() const;
    int swapIn(const SavePaths& paths);
    void reached(const std::string& path);
    void loadIdeas(const std::string& audioFolder, const std::vector<NamedIdea>& named, double bpm);

    ZubEngine* m_pEngine;
    std::function<void(const std::string&)> m_stepHook;
    std::string m_failure;
};
