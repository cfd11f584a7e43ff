// Costs of the DSP building blocks. Whole-buffer processors report their cost
// as a fraction of the real-time budget of the same buffer (frames / 44100 s);
// per-frame units report throughput in frames per second.
#include "dsp/fade.h"
#include "dsp/ghettocomp.h"
#include "dsp/linearresampler.h"
#include "dsp/masterbus.h"
#include "dsp/superresampler.h"
#include "filters/chebyshevibandpass.h"
#include "filters/chebyshevilowpass.h"
#include "filters/rbjlowpass.h"
#include "filters/stereofilter.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

namespace {

std::vector<float> noise(int frames)
{
    std::vector<float> s(2 * frames);
    unsigned seed = 12345;
    for (float& x : s) {
        seed = seed * 1664525u + 1013904223u;
        x = static_cast<float>(static_cast<int>(seed >> 8) % 20000) / 40000.0f;
    }
    return s;
}

void reportRealTime(benchmark::State& state, int frames)
{
    state.counters["rt_fraction"] = benchmark::Counter(frames / 44100.0,
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void reportFrames(benchmark::State& state, int frames)
{
    state.counters["frames_per_second"] = benchmark::Counter(frames, benchmark::Counter::kIsIterationInvariantRate);
}

void BM_MasterBus(benchmark::State& state)
{
    const int frames = static_cast<int>(state.range(0));
    const std::vector<float> in = noise(frames);
    std::vector<float> buffer(in.size());
    MasterBus bus;
    for (auto _ : state) {
        std::copy(in.begin(), in.end(), buffer.begin());
        bus.process(buffer.data(), frames);
        benchmark::DoNotOptimize(buffer.data());
    }
    reportRealTime(state, frames);
}
BENCHMARK(BM_MasterBus)->Arg(128)->Arg(512);

void BM_GhettoComp(benchmark::State& state)
{
    const int frames = static_cast<int>(state.range(0));
    const std::vector<float> in = noise(frames);
    std::vector<float> buffer(in.size());
    GhettoComp comp(11.6f);
    for (auto _ : state) {
        std::copy(in.begin(), in.end(), buffer.begin()); // or the gain would shrink it into denormals
        comp.process(buffer.data(), frames);
        benchmark::DoNotOptimize(buffer.data());
    }
    reportRealTime(state, frames);
}
BENCHMARK(BM_GhettoComp)->Arg(512);

void BM_FadeMixSample(benchmark::State& state)
{
    const int frames = 512;
    const std::vector<float> src = noise(frames);
    std::vector<float> dst(src.size());
    Fade fade;
    for (auto _ : state) {
        fade.fadeOut(300.0f);
        for (std::size_t i = 0; i < src.size(); ++i)
            fade.mixSample(&dst[i], &src[i]);
        benchmark::DoNotOptimize(dst.data());
    }
    reportFrames(state, frames);
}
BENCHMARK(BM_FadeMixSample);

template <class Design, class Setup>
void runFilter(benchmark::State& state, Setup setup)
{
    const int frames = 512;
    std::vector<float> left = noise(frames), right = noise(frames);
    StereoFilter<Design> filter;
    setup(filter);
    float* channels[] = { left.data(), right.data() };
    for (auto _ : state) {
        filter.process(frames, channels);
        benchmark::DoNotOptimize(left.data());
    }
    reportFrames(state, frames);
}

void BM_ChebyshevLowPass4(benchmark::State& state)
{
    runFilter<ChebyshevILowPass>(state, [](auto& f) { f.setup(4, 44100.0, 20000.0, 1.0); });
}
BENCHMARK(BM_ChebyshevLowPass4);

void BM_ChebyshevBandPass3(benchmark::State& state)
{
    runFilter<ChebyshevIBandPass>(state, [](auto& f) { f.setup(3, 44100.0, 3000.0, 5000.0, 1.0); });
}
BENCHMARK(BM_ChebyshevBandPass3);

void BM_RbjLowPass(benchmark::State& state)
{
    runFilter<RbjLowPass>(state, [](auto& f) { f.setup(44100.0, 160.0, 0.8); });
}
BENCHMARK(BM_RbjLowPass);

// Rate in hundredths.
void BM_LinearResampler(benchmark::State& state)
{
    const double rate = state.range(0) / 100.0;
    const int frames = 512;
    const std::vector<float> src = noise(4 * frames + 8);
    std::vector<float> out(2 * frames);
    LinearResampler r;
    for (auto _ : state) {
        int pos = 0;
        for (int i = 0; i < frames; ++i)
            pos += r.next(&out[2 * i], &out[2 * i + 1], 0, rate, src.data() + pos, static_cast<int>(src.size()) - pos);
        benchmark::DoNotOptimize(out.data());
    }
    reportFrames(state, frames);
}
BENCHMARK(BM_LinearResampler)->Arg(70)->Arg(100)->Arg(150);

// The render of a re-timed drum loop: 128-frame blocks through one loop.
void BM_SuperResampler(benchmark::State& state)
{
    const double rate = state.range(0) / 100.0;
    const int frames = 128;
    const int loopFrames = 4 * 44100;
    const std::vector<float> loop = noise(loopFrames);
    std::vector<float> out(2 * frames);
    SuperResampler r;
    int64 pos = 0;
    for (auto _ : state) {
        pos += 2 * r.process(loop.data(), loopFrames, pos, out.data(), frames, 0, rate);
        pos %= 2 * loopFrames;
        benchmark::DoNotOptimize(out.data());
    }
    reportFrames(state, frames);
}
BENCHMARK(BM_SuperResampler)->Arg(70)->Arg(150)->Arg(300);

} // namespace

BENCHMARK_MAIN();
