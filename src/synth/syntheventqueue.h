#pragma once

#include "core/zubtypes.h"
#include "synth/enginenoteoffevent.h"
#include "synth/enginenoteonevent.h"
#include "synth/enginepitchbendevent.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <variant>

using AnySynthEvent = std::variant<EngineNoteOnEvent, EngineNoteOffEvent, EnginePitchBendEvent>;

// Fixed ring of 256 timed events between one writer thread (notes) and the
// audio thread. The reader moves new entries into a ring of its own before
// each pass, so the entries it puts back never race with the writer; the
// writer counts both rings, so together they never hold more than 256.
class SynthEventQueue
{
public:
    static constexpr int kCapacity = 256;

    struct Entry
    {
        int32 countdown = 0;
        AnySynthEvent event;
    };

    // Writer thread. A full queue stores nothing and returns false.
    bool push(int32 countdown, const AnySynthEvent& event);
    // Writer thread: entries held by either side, never fewer than there are.
    int approximateSize() const;

    // Reader thread: a pass is beginPass, any number of takeOldest/putBack, endPass.
    void beginPass();
    int size() const { return m_pendingSize; }
    Entry takeOldest();
    void putBack(const Entry& entry);
    void endPass();

private:
    static constexpr std::uint32_t kMask = kCapacity - 1;

    std::array<Entry, kCapacity> m_incoming;
    std::atomic<std::uint32_t> m_incomingHead { 0 }; // written by the reader
    std::atomic<std::uint32_t> m_incomingTail { 0 }; // written by the writer

    std::array<Entry, kCapacity> m_pending; // reader only
    std::uint32_t m_pendingHead = 0;
    int m_pendingSize = 0;
    std::atomic<int> m_publishedPendingSize { 0 }; // reader's count, as the writer sees it
};
