// The whole audio cycle (ZubEngine::process) under each named load, as a
// fraction of the real-time budget of the same buffer (counter "budget",
// frames / 44,100 s) for host buffers of 64, 128, 256 and 512 frames (and
// 4,096 and 16,384 for pitched-up sampler notes); and the
// drum loop re-time on the GUI thread in milliseconds.
#include "budget.h"
#include "engineloads.h"

#include <string>
#include <vector>

namespace {

void runLoad(benchmark::State& state, EngineLoads::Load load)
{
    const int frames = static_cast<int>(state.range(0));
    EngineLoads loads;
    std::string error;
    ZubEngine* engine = loads.start(load, error);
    if (!engine) {
        state.SkipWithError(error.c_str());
        return;
    }
    std::vector<float> buffer(2 * frames);
    // Sampler voices end with their sample (the highest after 6 s): strike
    // them again every 2 s of audio, whatever the buffer size.
    constexpr int kRefreshFrames = 2 * 44100;
    int framesSinceRefresh = 0;
    for (auto _ : state) {
        engine->process(buffer.data(), frames);
        benchmark::DoNotOptimize(buffer.data());
        framesSinceRefresh += frames;
        if (framesSinceRefresh >= kRefreshFrames) {
            framesSinceRefresh = 0;
            state.PauseTiming();
            loads.refresh();
            state.ResumeTiming();
        }
    }
    reportBudget(state, frames);
}

// Setting the tempo while a drum loop plays re-times it (and the recorder)
// on the GUI thread: milliseconds per change.
void BM_DrumLoopRetime(benchmark::State& state)
{
    EngineLoads loads;
    std::string error;
    ZubEngine* engine = loads.start(EngineLoads::Idle, error);
    if (!engine || !loads.playDrumLoop(error)) {
        state.SkipWithError(error.c_str());
        return;
    }
    std::vector<float> buffer(2 * 256);
    engine->process(buffer.data(), 256);
    int i = 0;
    for (auto _ : state) {
        engine->setTempo(++i % 2 ? 90.0f : 110.0f);
        // The cycle takes the re-timed loop in, as it would between changes.
        state.PauseTiming();
        engine->process(buffer.data(), 256);
        state.ResumeTiming();
    }
}
BENCHMARK(BM_DrumLoopRetime)->Unit(benchmark::kMillisecond);

void registerLoads()
{
    for (int load = 0; load < EngineLoads::NumLoads; ++load) {
        const auto which = static_cast<EngineLoads::Load>(load);
        auto* benchmark = benchmark::RegisterBenchmark((std::string("BM_Cycle/") + EngineLoads::name(which)).c_str(),
            [which](benchmark::State& state) { runLoad(state, which); });
        benchmark->Arg(64)->Arg(128)->Arg(256)->Arg(512);
        // Pitched-up sampler notes take large host buffers in pieces.
        if (which == EngineLoads::SamplerAboveRoot)
            benchmark->Arg(4096)->Arg(16384);
    }
}

} // namespace

int main(int argc, char** argv)
{
    registerLoads();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
