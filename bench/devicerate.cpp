// The cost of running the engine's 44,100 Hz on a device at 48,000 Hz: the
// rate conversion of one 256-frame device buffer, output and input, as a
// fraction of that buffer's real time (256 / 48,000 s). The engine itself is
// left out: the output side pulls silence.
#include "core/playbackengine.h"
#include "dsp/captureresampler.h"
#include "dsp/playbackresampler.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

namespace {

constexpr int kDeviceRate = 48000;
constexpr int kDeviceFrames = 256;

void reportDeviceBudget(benchmark::State& state)
{
    state.counters["budget"] = benchmark::Counter(double(kDeviceFrames) / kDeviceRate,
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

struct Silence : PlaybackEngine
{
    void process(float*, int) override { }
};

void BM_PlaybackConversion48k(benchmark::State& state)
{
    Silence engine;
    PlaybackResampler toDevice(&engine, kDeviceRate);
    std::vector<float> out(2 * kDeviceFrames);
    for (auto _ : state) {
        toDevice.render(out.data(), kDeviceFrames);
        benchmark::DoNotOptimize(out.data());
    }
    reportDeviceBudget(state);
}
BENCHMARK(BM_PlaybackConversion48k);

void BM_CaptureConversion48k(benchmark::State& state)
{
    const int channels = int(state.range(0));
    CaptureResampler toEngine(channels, kDeviceRate);
    std::vector<float> in(std::size_t(channels) * kDeviceFrames);
    for (std::size_t i = 0; i < in.size(); ++i)
        in[i] = 0.5f * float(std::sin(0.05 * double(i)));
    float sink = 0.0f;
    for (auto _ : state) {
        toEngine.convert(in.data(), kDeviceFrames, [&](const float* frames, int64 count) { sink += frames[count - 1]; });
        benchmark::DoNotOptimize(sink);
    }
    reportDeviceBudget(state);
}
BENCHMARK(BM_CaptureConversion48k)->Arg(1)->Arg(2);

} // namespace

BENCHMARK_MAIN();
