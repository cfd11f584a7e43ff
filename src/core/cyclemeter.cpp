#include "core/cyclemeter.h"

#include <chrono>
#include <ctime>

namespace {

double budgetFraction(int64 nanoseconds, int numFrames)
{
    return double(nanoseconds) * ZUB_SAMPLE_RATE / (1e9 * numFrames);
}

void raise(std::atomic<double>& max, double value)
{
    if (value > max.load(std::memory_order_relaxed))
        max.store(value, std::memory_order_relaxed);
}

int64 wallNow()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
        std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

int64 cpuNow()
{
    // A short system call: no I/O, no waiting.
    timespec cpu {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &cpu);
    return int64(cpu.tv_sec) * 1000000000 + cpu.tv_nsec;
}

} // namespace

// The CPU reads sit inside the wall reads, so a cycle's CPU time never
// exceeds its wall time.
CycleMeter::Stamp CycleMeter::now()
{
    const int64 wall = wallNow();
    return { wall, cpuNow() };
}

void CycleMeter::finish(const Stamp& start, int numFrames)
{
    if (numFrames <= 0)
        return;
    if (m_bReset.exchange(false, std::memory_order_relaxed)) {
        m_iCycles.store(0, std::memory_order_relaxed);
        m_iMaxNanoseconds.store(0, std::memory_order_relaxed);
        m_fMaxFraction.store(0.0, std::memory_order_relaxed);
        m_fMaxCpuFraction.store(0.0, std::memory_order_relaxed);
    }
    const int64 cpu = cpuNow() - start.cpuNanoseconds;
    const int64 elapsed = wallNow() - start.wallNanoseconds;
    m_iCycles.store(m_iCycles.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
    raise(m_fMaxFraction, budgetFraction(elapsed, numFrames));
    raise(m_fMaxCpuFraction, budgetFraction(cpu, numFrames));
    if (elapsed > m_iMaxNanoseconds.load(std::memory_order_relaxed))
        m_iMaxNanoseconds.store(elapsed, std::memory_order_relaxed);
}

void CycleMeter::toJson(Json::Value& root) const
{
    Json::Value& state = root["engine_load"];
    state["cycles"] = Json::Int64(cycles());
    state["max_cycle_usec"] = double(maxNanoseconds()) / 1000.0;
    state["max_cycle_fraction"] = maxFraction();
    state["max_cycle_cpu_fraction"] = maxCpuFraction();
}
