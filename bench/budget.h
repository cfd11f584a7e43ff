#pragma once

#include <benchmark/benchmark.h>

// Reports a benchmark's cost as a fraction of the real-time budget of the
// buffer it processed (frames / 44,100 s): 1.0 would use the whole budget.
inline void reportBudget(benchmark::State& state, int framesPerIteration)
{
    state.counters["budget"] = benchmark::Counter(double(framesPerIteration) / 44100.0,
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
