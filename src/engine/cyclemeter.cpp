#include "engine/cyclemeter.h"

#include <chrono>

int64 CycleMeter::now()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
        std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void CycleMeter::finish(int64 start, int numFrames)
{
    if (numFrames <= 0)
        return;
    if (m_bReset.exchange(false, std::memory_order_relaxed)) {
        m_iCycles.store(0, std::memory_order_relaxed);
        m_iMaxNanoseconds.store(0, std::memory_order_relaxed);
        m_fMaxFraction.store(0.0, std::memory_order_relaxed);
    }
    const int64 elapsed = now() - start;
    const double fraction = double(elapsed) * ZUB_SAMPLE_RATE / (1e9 * numFrames);
    m_iCycles.store(m_iCycles.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
    if (fraction > m_fMaxFraction.load(std::memory_order_relaxed))
        m_fMaxFraction.store(fraction, std::memory_order_relaxed);
    if (elapsed > m_iMaxNanoseconds.load(std::memory_order_relaxed))
        m_iMaxNanoseconds.store(elapsed, std::memory_order_relaxed);
}

void CycleMeter::toJson(Json::Value& root) const
{
    Json::Value& state = root["engine_load"];
    state["cycles"] = Json::Int64(cycles());
    state["max_cycle_usec"] = double(maxNanoseconds()) / 1000.0;
    state["max_cycle_fraction"] = maxFraction();
}
