// The whole audio cycle while the freestyle recorder records a take, and
// while the tempo detector auditions one, as a fraction of the real-time budget.
#include "budget.h"

#include "engine/zubengine.h"
#include "loops/freestylerecorder.h"
#include "loops/freestyletempodetector.h"
#include "loops/loop.h"
#include "loops/looprecorder.h"

#include <random>
#include <vector>

namespace {

Json::Value command(const char* component, const char* key)
{
    Json::Value root;
    root[component][key] = true;
    return root;
}

// Noise in the loop recorder, whose playback the freestyle recorder takes
// in: never silent, so a take runs until the buffer is full.
void fillLoopRecorder(ZubEngine& engine)
{
    LoopRecorder& recorder = *engine.loopRecorder();
    std::vector<float> noise(2 * recorder.lengthFrames());
    std::mt19937 rng(1);
    std::uniform_real_distribution<float> dist(-0.5f, 0.5f);
    for (float& v : noise)
        v = dist(rng);
    recorder.setRecord(true);
    recorder.record(noise.data(), int(recorder.lengthFrames()));
    recorder.setRecord(false);
}

// Includes the cycles that store a full take (a 64 s copy), at their rate.
void BM_CycleWhileRecordingATake(benchmark::State& state)
{
    const int frames = int(state.range(0));
    ZubEngine engine(nullptr);
    fillLoopRecorder(engine);
    FreestyleRecorder& recorder = *engine.freestyleRecorder();
    recorder.handleJson(command("freestyle_recorder", "initialize"));
    std::vector<float> buffer(2 * frames);
    for (auto _ : state) {
        if (recorder.state() != FreestyleRecorder::STATE_RECORDING) {
            state.PauseTiming();
            engine.noteOn(60, 127);
            state.ResumeTiming();
        }
        engine.process(buffer.data(), frames);
        benchmark::DoNotOptimize(buffer.data());
    }
    reportBudget(state, frames);
}
BENCHMARK(BM_CycleWhileRecordingATake)->Arg(128)->Arg(512);

void BM_CycleWhileAuditioning(benchmark::State& state)
{
    const int frames = int(state.range(0));
    ZubEngine engine(nullptr);
    fillLoopRecorder(engine);
    FreestyleRecorder& recorder = *engine.freestyleRecorder();
    recorder.handleJson(command("freestyle_recorder", "initialize"));
    engine.noteOn(60, 127);
    std::vector<float> buffer(2 * 512);
    for (int i = 0; i < 20 * 44100 / 512; ++i)
        engine.process(buffer.data(), 512);
    recorder.suspend(); // keeps the 20 s take
    Json::Value solo;
    solo["freestyle_recorder"]["playing_loop_id"] = recorder.takes()[0]->id();
    recorder.handleJson(solo);
    recorder.handleJson(command("freestyle_recorder", "do_tempo_detection"));
    engine.freestyleTempoDetector()->handleJson(command("freestyle_tempo_detector", "play_loop"));
    buffer.resize(2 * frames);
    for (auto _ : state) {
        engine.process(buffer.data(), frames);
        benchmark::DoNotOptimize(buffer.data());
    }
    reportBudget(state, frames);
}
BENCHMARK(BM_CycleWhileAuditioning)->Arg(128)->Arg(512);

} // namespace

BENCHMARK_MAIN();
