// Offline rendering of an idea of 8 loops (seconds of audio per second of
// wall time, and the real-time budget fraction), and saving and opening a
// project of 4 ideas x 8 loops of 16 beats.
#include "budget.h"

#include "engine/projectfile.h"
#include "engine/renderer.h"
#include "engine/zubengine.h"
#include "loops/idea.h"
#include "loops/ideacollection.h"
#include "loops/loop.h"
#include "loops/looppool.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

constexpr int kSixteenBeatsFrames = 16 * 22050; // at 120 bpm

void addIdeas(ZubEngine& engine, int numIdeas, int loopsPerIdea)
{
    std::vector<float> audio(2 * std::size_t(kSixteenBeatsFrames));
    for (int i = 0; i < numIdeas; ++i) {
        Idea* idea = new Idea(engine.loopPool());
        idea->setName("Idea " + std::to_string(i + 1));
        for (int l = 0; l < loopsPerIdea; ++l) {
            for (std::size_t k = 0; k < audio.size(); ++k)
                audio[k] = 0.1f * std::sin(float(k) * 0.001f * float(l + 1));
            std::shared_ptr<Loop> loop = engine.loopPool()->createLoop();
            loop->copyFrom(audio.data(), kSixteenBeatsFrames, 0);
            idea->addLoop(loop);
        }
        engine.ideaCollection()->addIdea(idea);
    }
}

void BM_RenderIdeaOfEightLoops(benchmark::State& state)
{
    ZubEngine engine(nullptr);
    addIdeas(engine, 1, 8);
    Idea* idea = engine.ideaCollection()->activeIdea();
    std::FILE* sink = std::fopen("/dev/null", "wb");
    for (auto _ : state) {
        idea->syncPlayPos(0);
        Renderer::renderToWav(sink, idea, kSixteenBeatsFrames, 0.5f);
    }
    std::fclose(sink);
    state.counters["audio_s_per_s"] = benchmark::Counter(double(kSixteenBeatsFrames) / 44100.0,
        benchmark::Counter::kIsIterationInvariantRate);
    reportBudget(state, kSixteenBeatsFrames);
}
BENCHMARK(BM_RenderIdeaOfEightLoops)->Unit(benchmark::kMillisecond);

std::string benchFolder()
{
    const std::filesystem::path dir = std::filesystem::temp_directory_path() / "motifo-bench-render";
    std::filesystem::create_directories(dir);
    return dir.string();
}

void BM_SaveProjectOfFourIdeas(benchmark::State& state)
{
    ZubEngine engine(nullptr);
    addIdeas(engine, 4, 8);
    const std::string document = benchFolder() + "/Bench.zub";
    ProjectFile file(&engine);
    for (auto _ : state)
        if (file.save(document) != 0)
            state.SkipWithError("save failed");
}
BENCHMARK(BM_SaveProjectOfFourIdeas)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_OpenProjectOfFourIdeas(benchmark::State& state)
{
    ZubEngine engine(nullptr);
    addIdeas(engine, 4, 8);
    const std::string document = benchFolder() + "/Bench.zub";
    ProjectFile file(&engine);
    if (file.save(document) != 0)
        state.SkipWithError("save failed");
    for (auto _ : state)
        file.open(document, benchFolder());
    std::filesystem::remove_all(benchFolder());
}
BENCHMARK(BM_OpenProjectOfFourIdeas)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace

BENCHMARK_MAIN();
