#pragma once

#include "core/beatgrid.h"
#include "core/playbackengine.h"
#include "core/zubtypes.h"
#include "loops/idea.h"

#include <functional>
#include <json/value.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class Fade;
class LoopPool;

constexpr int IDEACOLLECTION_MIXING_BUF_SAMPLES = 32768;

// The song's ideas in display order and which one plays. The audio thread
// calls process and syncPlayPos; the message thread edits the list.
//
// The list is never changed in place: an edit builds a new one and swaps one
// pointer (read-copy-update), and the old list, with any idea only it held,
// is let go by the editing thread. The audio thread holds its lock for the
// cycle; anyone else holds it only for that swap. Lock order on the audio
// thread: collection, idea, loop.
class IdeaCollection : public PlaybackEngine
{
public:
    using IdeaList = std::vector<std::shared_ptr<Idea>>;
    // Everything the song holds of its ideas, by reference: taken and put
    // back whole by the undo history, read by a save in progress.
    struct State
    {
        std::shared_ptr<const IdeaList> ideas;
        std::vector<std::shared_ptr<const Idea::Content>> contents;
        int32 activeIdeaId = 0;
    };

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

    // The song stops: no idea is active and the one that played fades out.
    // Returns 1 (nothing changed) when no idea plays.
    int stop();
    // The idea that played before the stop (else the first) becomes active
    // again; the engine starts it at the next bar. Returns 1 (nothing
    // changed) when the song is not stopped.
    int play();
    bool isStopped() const { return m_bStopped.load(); }
    // Audio thread: true once for each play().
    bool takeStartRequest() { return m_bStartRequested.exchange(false); }
    std::shared_ptr<const IdeaList> snapshot() const;

    // The active idea's loops' mute states are stored first, so the state
    // holds what is heard.
    State capture();
    // Puts back the ideas, their contents and the active idea of a state
    // taken earlier; the active idea's mute pattern is applied with fades.
    void restore(const State& state);

    void syncPlayPos(int transportFrame);
    // Audio thread, every cycle: every loop of every idea to the frame on the grid.
    void alignTo(int64 frame, const BeatGrid& grid);
    // At most IDEACOLLECTION_MIXING_BUF_SAMPLES / 2 frames.
    void process(float* out, int numFrames) override;

    // Loops are the WAV files of dir in index order (loop10 after loop9),
    // notes the tracks of dir/../name.mid in the same order. Loop i is
    // loopBeats[i] beats long; where that is not given (older songs) its
    // beats come from its length at bpm (none given: the loops keep 16).
    void loadIdea(const std::string& dir, const std::string& name, double bpm = 0.0,
                  const std::vector<int>& loopBeats = {});
    // The same in two steps: reading, on any thread, gives an idea whose
    // loops are in no pool yet; adopting puts them in the pool and the idea
    // at the end of the collection.
    static std::unique_ptr<Idea> readIdea(const std::string& dir, const std::string& name, LoopPool* loopPool,
                                          double bpm = 0.0, const std::vector<int>& loopBeats = {});
    void adoptIdea(std::unique_ptr<Idea> idea);

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
    void publish(std::shared_ptr<const IdeaList> ideas, int32 activeIdeaId);
    void markModified();
    void giveUniqueId(Idea* idea) const;

    std::function<void()> m_onModified;
    LoopPool* m_pLoopPool;
    // Writers take turns on this one; so do readers other than the audio thread.
    mutable std::recursive_mutex m_editMutex;
    // Held by the audio thread for its cycle, by anyone else only to swap.
    mutable std::mutex m_mutex;
    std::shared_ptr<const IdeaList> m_pIdeas;
    int32 m_activeIdeaId = 0;
    // The idea the audio thread plays; it lives while m_pIdeas holds it.
    Idea* m_pActive = nullptr;
    // Stopping: the idea that played fades out through m_pStopFade (both
    // under m_mutex); released on the message thread only.
    std::shared_ptr<Idea> m_pFadingIdea;
    std::unique_ptr<Fade> m_pStopFade;
    float* m_pMixingBuffer;
    std::atomic<bool> m_bStopped { false };
    std::atomic<bool> m_bStartRequested { false };
    int32 m_lastPlayedIdeaId = 0;

    void releaseFadingIdea();
};
