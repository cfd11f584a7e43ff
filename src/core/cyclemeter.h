#pragma once

#include "core/zubtypes.h"

#include <atomic>
#include <json/value.h>

// The largest audio cycle seen, as time and as a fraction of the buffer's
// real-time budget. The audio thread writes plain relaxed atomics (no lock,
// no allocation, no log line); any thread reads them. Beside the wall time
// it keeps the cycle's own CPU time: where the two part, the machine took
// the processor away from the cycle, rather than the engine working long.
class CycleMeter
{
public:
    struct Stamp
    {
        int64 wallNanoseconds;
        int64 cpuNanoseconds;
    };

    // Audio thread: monotonic and thread CPU time stamps before the cycle.
    static Stamp now();
    // Audio thread: the cycle that began at start has processed numFrames.
    void finish(const Stamp& start, int numFrames);

    // Any thread.
    int64 cycles() const { return m_iCycles.load(std::memory_order_relaxed); }
    int64 maxNanoseconds() const { return m_iMaxNanoseconds.load(std::memory_order_relaxed); }
    double maxFraction() const { return m_fMaxFraction.load(std::memory_order_relaxed); }
    double maxCpuFraction() const { return m_fMaxCpuFraction.load(std::memory_order_relaxed); }
    // The audio thread starts counting afresh at its next cycle.
    void reset() { m_bReset.store(true, std::memory_order_relaxed); }
    // "engine_load": "cycles", "max_cycle_usec", "max_cycle_fraction",
    // "max_cycle_cpu_fraction".
    void toJson(Json::Value& root) const;

private:
    std::atomic<int64> m_iCycles { 0 };
    std::atomic<int64> m_iMaxNanoseconds { 0 };
    std::atomic<double> m_fMaxFraction { 0.0 };
    std::atomic<double> m_fMaxCpuFraction { 0.0 };
    std::atomic<bool> m_bReset { false };
    static_assert(std::atomic<double>::is_always_lock_free && std::atomic<int64>::is_always_lock_free);
};
