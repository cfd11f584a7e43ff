#pragma once

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
// thread calls process and syncPlayPos; the message thread the rest. Lock
// order: idea, then loop.
class Idea : public PlaybackEngine
{
public:
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
    std::vector<std::shared_ptr<Loop>> loops() const;
    std::size_t numFadingLoops() const;

    void saveLoopStates();
    // Re-applies the stored mute pattern to the loops, with fades unless immediate.
    void activate(bool immediate = false);
    void syncPlayPos(int64 samples);
    // The longest loop in frames and the number of loops.
    int64 maxLoopLengthFrames(int* numLoops = nullptr) const;

    // At most IDEA_MIXING_BUF_SAMPLES / 2 frames.
    void process(float* out, int numFrames) override;

    Json::Value toJson() const;
    // Loops named with "_destroy" are removed with a fade, then the pool
    // collects its garbage.
    void fromJson(const Json::Value& idea);

private:
    void saveLoopStatesLocked();
    bool applyLoopEntry(const Json::Value& entry);
    int indexOf(const Loop* loop) const;

    std::vector<std::shared_ptr<Loop>> m_loops;
    // Held by process for the whole cycle: copying the list there would
    // allocate, and the audio thread could end up destroying a loop.
    mutable std::recursive_mutex m_mutex;
    int32 m_id;
    std::string m_name = "A New Idea";
    bool m_bMute = false;
    LoopPool* m_pLoopPool;
    std::unique_ptr<Fade> m_pFade;
    std::vector<std::shared_ptr<Loop>> m_fadingLoops;
    float* m_pMixingBuffer;
    std::vector<bool> m_loopStates;
};
