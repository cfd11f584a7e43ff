// Cost of the sampler's process cycle as a fraction of the real-time budget
// of the same buffer (frames / 44100 s): ten voices at the root key (direct
// path) and ten voices 19 semitones up (filtered, upsampled path).

#include "authoring/protoauthor.h"
#include "core/zubtypes.h"
#include "formats/wavewriter.h"
#include "instruments/sampler.h"
#include "proto/samplepack.pb.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <numbers>
#include <vector>

namespace {

constexpr int kRootKey = 40;
constexpr int kSampleFrames = 20 * ZUB_SAMPLE_RATE;

// One zone over every key with a long sine, written once per run.
class BenchPack
{
public:
    BenchPack()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "motifo-bench-XXXXXX").string();
        if (!mkdtemp(pattern.data()))
            std::abort();
        m_dir = pattern;
        std::vector<float> sine(2 * kSampleFrames);
        for (int i = 0; i < kSampleFrames; ++i)
            sine[2 * i] = sine[2 * i + 1]
                = 0.3f * static_cast<float>(std::sin(2.0 * std::numbers::pi * 220.0 * i / ZUB_SAMPLE_RATE));
        if (writeWav((m_dir / "sine.wav").string(), sine.data(), static_cast<int>(sine.size())) != 0)
            std::abort();
        Quavertone::SamplePack pack;
        auto* zone = pack.add_zone();
        zone->set_root_key(kRootKey);
        zone->set_filename("sine.wav");
        if (ProtoAuthor::write((m_dir / "samplepack.zsfb").string(), pack) != 0)
            std::abort();
    }
    ~BenchPack() { std::filesystem::remove_all(m_dir); }
    std::string dir() const { return m_dir.string(); }

private:
    std::filesystem::path m_dir;
};

const BenchPack& benchPack()
{
    static const BenchPack pack;
    return pack;
}

void strikeTen(Sampler& sampler, int firstKey)
{
    for (int i = 0; i < Sampler::kNumVoices; ++i) {
        sampler.noteOff(firstKey + i);
        sampler.noteOn(firstKey + i);
    }
}

// Ten voices on keys firstKey .. firstKey + 9 (one semitone apart).
void tenVoices(benchmark::State& state, int firstKey)
{
    const int frames = static_cast<int>(state.range(0));
    Sampler sampler;
    sampler.load(benchPack().dir());
    std::vector<float> buffer(2 * frames);
    std::chrono::duration<double> busy {};
    for (auto _ : state) {
        if (sampler.numActiveVoices() < Sampler::kNumVoices) {
            state.PauseTiming();
            strikeTen(sampler, firstKey);
            state.ResumeTiming();
        }
        const auto start = std::chrono::steady_clock::now();
        sampler.process(buffer.data(), frames, 1.0f);
        benchmark::DoNotOptimize(buffer.data());
        busy += std::chrono::steady_clock::now() - start;
    }
    // Time spent over the audio time produced: 1.0 uses the whole budget.
    const double audioSeconds = static_cast<double>(state.iterations()) * frames / ZUB_SAMPLE_RATE;
    state.counters["rt_fraction"] = busy.count() / audioSeconds;
}

void BM_TenVoicesAtRoot(benchmark::State& state)
{
    // Ten keys from nine below the root up to the root: the direct path.
    tenVoices(state, kRootKey - 9);
}

void BM_TenVoicesNineteenUp(benchmark::State& state)
{
    tenVoices(state, kRootKey + 19);
}

} // namespace

BENCHMARK(BM_TenVoicesAtRoot)->Arg(128)->Arg(512);
BENCHMARK(BM_TenVoicesNineteenUp)->Arg(128)->Arg(512);

BENCHMARK_MAIN();
