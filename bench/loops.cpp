// An idea of 16 loops of 16 beats playing while the loop recorder records,
// through the whole engine cycle, as a fraction of the real-time budget.
#include "budget.h"

#include "engine/zubengine.h"
#include "loops/idea.h"
#include "loops/ideacollection.h"
#include "loops/loop.h"
#include "loops/looppool.h"
#include "loops/looprecorder.h"

#include <random>
#include <vector>

namespace {

template <typename Component>
void runBlocks(benchmark::State& state, Component& component, int frames)
{
    std::vector<float> buffer(2 * frames);
    for (auto _ : state) {
        component.process(buffer.data(), frames);
        benchmark::DoNotOptimize(buffer.data());
    }
    reportBudget(state, frames);
}

void BM_SixteenLoopsWhileRecording(benchmark::State& state)
{
    const int frames = int(state.range(0));
    ZubEngine engine(nullptr);
    std::vector<float> noise(2 * engine.loopRecorder()->lengthFrames());
    std::mt19937 rng(1);
    std::uniform_real_distribution<float> dist(-0.5f, 0.5f);
    for (float& v : noise)
        v = dist(rng);
    for (int i = 0; i < 16; ++i) {
        engine.loopRecorder()->setRecord(true);
        engine.loopRecorder()->record(noise.data(), int(noise.size() / 2));
        engine.createLoopFromLoopRecorder();
    }
    engine.loopRecorder()->setRecord(true);
    runBlocks(state, engine, frames);
}
BENCHMARK(BM_SixteenLoopsWhileRecording)->Arg(128)->Arg(512);

// One loop on its own, for comparison with the whole cycle.
void BM_LoopProcess(benchmark::State& state)
{
    const int frames = int(state.range(0));
    std::vector<float> src(2 * 352800, 0.25f);
    Loop loop;
    loop.copyFrom(src.data(), 352800, 0);
    runBlocks(state, loop, frames);
}
BENCHMARK(BM_LoopProcess)->Arg(128)->Arg(512);

} // namespace

BENCHMARK_MAIN();
