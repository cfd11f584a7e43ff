#include "loops/takecopier.h"

#include "core/log.h"
#include "loops/loop.h"
#include "loops/loopaudio.h"
#include "loops/midirecorder.h"

#include <algorithm>
#include <new>
#include <utility>

TakeCopier::TakeCopier(Target target, Done done, std::size_t eventRoom)
    : m_target(std::move(target))
    , m_done(std::move(done))
{
    for (Slot& slot : m_slots)
        slot.notes.reserve(eventRoom);
    m_thread = std::thread([this] { run(); });
}

TakeCopier::~TakeCopier()
{
    {
        std::lock_guard lock(m_mutex);
        m_bStop = true;
    }
    m_wake.notify_one();
    m_thread.join();
}

int TakeCopier::allocate(int64 numFrames)
{
    std::unique_ptr<float[]> made[NUM_BUFFERS];
    {
        std::lock_guard lock(m_mutex);
        if (m_bufferFrames > 0)
            return 0;
    }
    for (auto& samples : made) {
        samples.reset(new (std::nothrow) float[std::size_t(numFrames) * ZUB_FRAMESIZE]());
        if (!samples) {
            logInfo() << "TakeCopier: no memory for take buffers of " << numFrames << " frames";
            return 1;
        }
    }
    std::lock_guard lock(m_mutex);
    if (m_bufferFrames > 0)
        return 0;
    for (int i = 0; i < NUM_BUFFERS; ++i)
        m_slots[i].samples = std::move(made[i]);
    m_bufferFrames = numFrames;
    return 0;
}

int64 TakeCopier::bufferFrames() const
{
    std::lock_guard lock(m_mutex);
    return m_bufferFrames;
}

float* TakeCopier::beginTake()
{
    std::lock_guard lock(m_mutex);
    if (m_capturing >= 0)
        return m_slots[m_capturing].samples.get();
    for (int i = 0; i < NUM_BUFFERS; ++i) {
        if (m_slots[i].samples && m_slots[i].state == SLOT_FREE) {
            m_slots[i].state = SLOT_CAPTURING;
            m_capturing = i;
            return m_slots[i].samples.get();
        }
    }
    return nullptr;
}

void TakeCopier::endTake(int64 numFrames, const MidiRecorder& notes)
{
    int i;
    {
        std::lock_guard lock(m_mutex);
        i = m_capturing;
    }
    if (i < 0)
        return;
    // The slot is the caller's until it is queued: its notes are written unlocked.
    notes.copyEventsTo(m_slots[i].notes);
    {
        std::lock_guard lock(m_mutex);
        m_slots[i].frames = std::clamp<int64>(numFrames, 0, m_bufferFrames);
        m_slots[i].state = SLOT_QUEUED;
        m_queue[m_numQueued++] = i;
        m_capturing = -1;
    }
    m_wake.notify_one();
}

void TakeCopier::cancelTake()
{
    std::lock_guard lock(m_mutex);
    if (m_capturing < 0)
        return;
    m_slots[m_capturing].state = SLOT_FREE;
    m_capturing = -1;
}

void TakeCopier::flush()
{
    std::unique_lock lock(m_mutex);
    m_drained.wait(lock, [this] { return m_numQueued == 0 && !m_bBusy; });
}

void TakeCopier::setPaused(bool paused)
{
    {
        std::lock_guard lock(m_mutex);
        m_bPaused = paused;
    }
    m_wake.notify_one();
}

void TakeCopier::run()
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_bStop || (m_numQueued > 0 && !m_bPaused); });
        if (m_bStop)
            return; // takes still queued go with the recorder
        Slot& slot = m_slots[m_queue[0]];
        std::copy(m_queue + 1, m_queue + m_numQueued, m_queue);
        --m_numQueued;
        m_bBusy = true;
        // The callbacks take the recorder's and the loop's locks: never while holding ours.
        lock.unlock();
        copy(slot);
        lock.lock();
        slot.state = SLOT_FREE;
        m_bBusy = false;
        m_drained.notify_all();
    }
}

// Copier thread: the slot is its own until it is marked free.
void TakeCopier::copy(Slot& slot)
{
    const std::shared_ptr<Loop> loop = m_target();
    if (loop) {
        // A key still down when the take ended is let go at its end.
        slot.notes.closeOpenNotes(framesToMicroseconds(slot.frames));
        loop->setNotes(slot.notes);
        // Copied outside every lock, then swapped in.
        if (loop->setAudio(LoopAudio::copyOf(slot.samples.get(), slot.frames)) != 0)
            logInfo() << "TakeCopier: a take of " << slot.frames << " frames could not be stored";
    }
    // Only the start of the buffer was written.
    std::fill(slot.samples.get(), slot.samples.get() + ZUB_FRAMESIZE * slot.frames, 0.0f);
    if (loop)
        m_done(loop);
}
