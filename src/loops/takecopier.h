#pragma once

#include "core/timedmidieventlist.h"
#include "core/zubtypes.h"

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

class Loop;
class MidiRecorder;

// Copies finished free takes into their loops on a thread of its own, so that
// ending a take costs the audio thread a few stores. Two capture buffers take
// turns: the audio thread records into one while the other is copied out and
// zeroed for its next turn. Takes are copied in the order they ended.
class TakeCopier
{
public:
    static constexpr int NUM_BUFFERS = 2;

    // Both run on the copier's thread with none of its locks held: the loop
    // a take is to go into, and the news that it is there.
    using Target = std::function<std::shared_ptr<Loop>()>;
    using Done = std::function<void(const std::shared_ptr<Loop>&)>;

    TakeCopier(Target target, Done done, std::size_t eventRoom);
    ~TakeCopier();

    TakeCopier(const TakeCopier&) = delete;
    TakeCopier& operator=(const TakeCopier&) = delete;

    // Message thread, before the first take: the buffers, zeroed, of
    // numFrames each. Returns 0 (also when they exist), or 1 for no memory.
    int allocate(int64 numFrames);
    int64 bufferFrames() const;
    // Audio thread: a zeroed buffer for the next take, now the caller's;
    // null while both are busy or none was allocated.
    float* beginTake();
    // Audio thread: the caller's buffer, numFrames of it recorded, goes to be
    // copied with the notes. Allocates nothing and never waits on a copy.
    void endTake(int64 numFrames, const MidiRecorder& notes);
    // The caller's buffer, never written, is free again.
    void cancelTake();
    // Not on the audio thread, nor holding a lock the callbacks take:
    // returns once every take ended so far is in its loop.
    void flush();
    // For tests: while paused, no copy starts.
    void setPaused(bool paused);

private:
    enum SlotState { SLOT_FREE, SLOT_CAPTURING, SLOT_QUEUED };
    struct Slot
    {
        std::unique_ptr<float[]> samples;
        TimedMidiEventList notes;
        int64 frames = 0;
        SlotState state = SLOT_FREE;
    };

    void run();
    void copy(Slot& slot);

    Target m_target;
    Done m_done;
    Slot m_slots[NUM_BUFFERS];
    int64 m_bufferFrames = 0;
    int m_capturing = -1;
    // Queued slots, oldest first.
    int m_queue[NUM_BUFFERS];
    int m_numQueued = 0;
    bool m_bBusy = false;
    bool m_bPaused = false;
    bool m_bStop = false;
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_drained;
    std::thread m_thread;
};
