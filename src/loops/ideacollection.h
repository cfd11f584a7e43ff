#pragma once

#include "core/playbackengine.h"
#include "core/zubtypes.h"

#include <functional>
#include <json/value.h>

#include <mutex>
#include <string>
#include <vector>

class Idea;
class LoopPool;

constexpr int IDEACOLLECTION_MIXING_BUF_SAMPLES = 32768;

// The song's ideas in display order and which one plays. The audio thread
// calls process and syncPlayPos; the message thread edits the list. Lock
// order: collection, idea, loop.
class IdeaCollection : public PlaybackEngine
{
public:
    // onModified runs whenever the song changes (the project's unsaved mark lives above).
    IdeaCollection(LoopPool* loopPool, std::function<void()> onModified);
    virtual ~IdeaCollection();

    IdeaCollection(const IdeaCollection&) = delete;
    IdeaCollection& operator=(const IdeaCollection&) = delete;

    // Null when there is none. The idea stays valid until the message
    // thread itself removes it.
    Idea* activeIdea() const;
    int32 activeIdeaId() const;
    // The active idea, after making the first one when there is none.
    Idea* activeIdeaMadeIfNone();
    // Returns 0, or 1 (nothing changed) when no idea has the id; 0 means none.
    int setActiveIdea(int32 id);
    // Takes ownership; the first idea becomes the active one.
    void addIdea(Idea* idea);
    // Returns 0, or 1 (nothing changed) when no idea has the id.
    int cloneIdea(int32 id);
    void clearAll();
    std::vector<Idea*> ideas() const;

    void syncPlayPos(int transportFrame);
    // At most IDEACOLLECTION_MIXING_BUF_SAMPLES / 2 frames.
    void process(float* out, int numFrames) override;

    // Loops are the WAV files of dir in index order (loop10 after loop9),
    // notes the tracks of dir/../name.mid in the same order.
    void loadIdea(const std::string& dir, const std::string& name);

    void toJson(Json::Value& root) const;
    // Returns true when an idea was deleted.
    bool handleJson(const Json::Value& root);

    // "Chorus" -> "Chorus 2", "Verse 2" -> "Verse 3".
    static std::string cloneName(const std::string& name);

private:
    Idea* findIdea(int32 id) const;
    int indexOf(int32 id) const;
    void deleteIdea(int32 id);
    void setActiveIdeaLocked(int32 id);
    void markModified();
    void giveUniqueId(Idea* idea) const;

    std::vector<Idea*> m_ideas;
    std::function<void()> m_onModified;
    mutable std::recursive_mutex m_mutex;
    LoopPool* m_pLoopPool;
    int32 m_activeIdeaId = 0;
};
