// The whole audio cycle as a fraction of the real-time budget.
#include "budget.h"

#include "engine/metronome.h"
#include "engine/zubengine.h"

#include <vector>

namespace {

void BM_IdleCycle(benchmark::State& state)
{
    const int frames = int(state.range(0));
    ZubEngine engine(nullptr);
    std::vector<float> buffer(2 * frames);
    for (auto _ : state) {
        engine.process(buffer.data(), frames);
        benchmark::DoNotOptimize(buffer.data());
    }
    reportBudget(state, frames);
}
BENCHMARK(BM_IdleCycle)->Arg(64)->Arg(256)->Arg(1024);

void BM_MetronomeCycle(benchmark::State& state)
{
    const int frames = int(state.range(0));
    ZubEngine engine(nullptr);
    Json::Value unmute;
    unmute["metronome"]["mute"] = false;
    engine.metronome()->handleJson(unmute);
    std::vector<float> buffer(2 * frames);
    for (auto _ : state) {
        engine.process(buffer.data(), frames);
        benchmark::DoNotOptimize(buffer.data());
    }
    reportBudget(state, frames);
}
BENCHMARK(BM_MetronomeCycle)->Arg(64)->Arg(256)->Arg(1024);

} // namespace

BENCHMARK_MAIN();
