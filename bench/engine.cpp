// The whole audio cycle as a fraction of the real-time budget.
#include "budget.h"

#include "engine/metronome.h"
#include "engine/zubengine.h"

#include <vector>

namespace {

void runCycles(benchmark::State& state, ZubEngine& engine)
{
    const int frames = int(state.range(0));
    std::vector<float> buffer(2 * frames);
    for (auto _ : state) {
        engine.process(buffer.data(), frames);
        benchmark::DoNotOptimize(buffer.data());
    }
    reportBudget(state, frames);
}

void BM_IdleCycle(benchmark::State& state)
{
    ZubEngine engine(nullptr);
    runCycles(state, engine);
}
BENCHMARK(BM_IdleCycle)->Arg(64)->Arg(256)->Arg(1024);

void BM_MetronomeCycle(benchmark::State& state)
{
    ZubEngine engine(nullptr);
    Json::Value unmute;
    unmute["metronome"]["mute"] = false;
    engine.metronome()->handleJson(unmute);
    runCycles(state, engine);
}
BENCHMARK(BM_MetronomeCycle)->Arg(64)->Arg(256)->Arg(1024);

} // namespace

BENCHMARK_MAIN();
