#pragma once

#include "core/beatgrid.h"
#include "core/playbackengine.h"
#include "core/zubtypes.h"

#include <json/value.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

class Fade;
class Loop;
class LoopPool;

constexpr int IDEA_MIXING_BUF_SAMPLES = 32768;

// One section of a song: loops that play together, with the mute state this
// idea wants for each of them. Clones share the very same loops. The audio
// thread calls process and syncPlayPos; the message thread the rest.
//
// What the idea holds is a Content that never changes once published: an
// edit builds a new one beside it and swaps one pointer (read-copy-update),
// so the audio thread never waits while a list is copied, and the undo
// history and a save in progress keep old contents by reference. Lock order
// on the audio thread: idea, then loop.
class Idea : public PlaybackEngine
{
public:
    using LoopList = std::vector<std::shared_ptr<Loop>>;
    struct Content
    {
        std::string name = "A New Idea";
        bool mute = false;
        LoopList loops;
        // The mute this idea wants for each loop, in the same order.
        std::vector<bool> loopStates;
    };

    explicit Idea(LoopPool* loopPool);
    // New id, same name, loops (shared) and mute pattern.
    Idea(const Idea& other);
    virtual ~Idea();

    Idea& operator=(const Idea&) = delete;

    void setName(const std::string& name);
    std::string name() const;
    int32 id() const { return m_id; }
    // The collection keeps idea ids unique and never 0 (which means "none").
    void setId(int32 id) { m_id = id; }

    void addLoop(std::shared_ptr<Loop> loop);
    // With a fade the loop goes on sounding for 300 ms.
    void removeLoop(const std::shared_ptr<Loop>& loop, bool withFade);
    LoopList loops() const;
    // Loops still fading out; lets go of them once their fade has ended.
    std::size_t numFadingLoops();

    std::shared_ptr<const Content> content() const;
    // Puts back a content taken earlier (undo). Loops' mute states follow
    // only when the idea is activated.
    void setContent(std::shared_ptr<const Content> content);

    void saveLoopStates();
    // Re-applies the stored mute pattern to the loops, with fades unless immediate.
    void activate(bool immediate = false);
    void syncPlayPos(int64 samples);
    void alignTo(int64 frame, const BeatGrid& grid);
    // The longest loop in frames and the number of loops.
    int64 maxLoopLengthFrames(int* numLoops = nullptr) const;

    // At most IDEA_MIXING_BUF_SAMPLES / 2 frames.
    void process(float* out, int numFrames) override;

    Json::Value toJson() const;
    // Loops named with "_destroy" are removed with a fade, then the pool
    // collects its garbage.
    void fromJson(const Json::Value& idea);

private:
    void publish(std::shared_ptr<const Content> next);
    void publishRemoval(std::shared_ptr<const Content> next, const LoopList& fadingOut);
    void applyLoopEntry(Content& next, const Json::Value& entry, LoopList& removed);

    int32 m_id;
    LoopPool* m_pLoopPool;
    // Writers take turns on this one; readers other than the audio thread
    // take it to read the content pointer.
    mutable std::recursive_mutex m_editMutex;
    // Held by the audio thread for its cycle, by anyone else only to swap a
    // pointer.
    mutable std::mutex m_mutex;
    std::shared_ptr<const Content> m_pContent;
    std::shared_ptr<const LoopList> m_pFading;
    // Set by the audio thread when the fade of the fading loops has ended.
    bool m_bFadeDone = true;
    std::unique_ptr<Fade> m_pFade;
    float* m_pMixingBuffer;
};
