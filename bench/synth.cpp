// Cost of the modal synth per 256-frame block, as a fraction of the block's
// real-time budget (counter "rt_fraction": 1.0 uses the whole budget). The
// cost is the thread's CPU time, so other load on a shared machine does not
// count against the synth.
#include "synth/kelpparameter.h"
#include "synth/kelpsynthengine.h"

#include <benchmark/benchmark.h>

#include <ctime>
#include <string>
#include <vector>

namespace {

constexpr int kBlockFrames = 256;

double threadCpuSeconds()
{
    timespec now {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
}

int programIndex(const KelpSynthEngine& engine, const std::string& name)
{
    for (int i = 0; i < engine.numPrograms(); ++i)
        if (engine.program(i).name() == name)
            return i;
    return 0;
}

void renderBlocks(benchmark::State& state, const char* programName)
{
    const int voices = static_cast<int>(state.range(0));
    KelpSynthEngine engine;
    engine.setProgram(programIndex(engine, programName));
    std::vector<float> left(kBlockFrames);
    std::vector<float> right(kBlockFrames);
    float* outputs[2] = { left.data(), right.data() };
    for (int i = 0; i < voices; ++i)
        engine.noteOn(36 + i, 100, 0);
    // Past the attack, so every voice renders its full layout.
    for (int i = 0; i < 200; ++i)
        engine.process(outputs, outputs, kBlockFrames);

    const double start = threadCpuSeconds();
    for (auto _ : state) {
        engine.process(outputs, outputs, kBlockFrames);
        benchmark::DoNotOptimize(left.data());
    }
    const double elapsed = threadCpuSeconds() - start;
    const double budget = double(kBlockFrames) / ZUB_SAMPLE_RATE * double(state.iterations());
    state.counters["rt_fraction"] = elapsed / budget;
    state.counters["modes"] = engine.voice(KelpSynthEngine::kNumVoices - 1).activeCount();
}

void BM_KelpDefault(benchmark::State& state) { renderBlocks(state, "Default"); }
// The largest layout of the bank: 100 modes per voice.
void BM_KelpCrystalStrings(benchmark::State& state) { renderBlocks(state, "Crystal Strings"); }

} // namespace

BENCHMARK(BM_KelpDefault)->Arg(1)->Arg(8)->Arg(32);
BENCHMARK(BM_KelpCrystalStrings)->Arg(32);

BENCHMARK_MAIN();
