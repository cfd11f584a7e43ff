// Start-up and SoundFont costs of the instruments, on the generated content
// beside the program (build/res):
// - the catalogue scan, and the engine's start-up to the first playable note
//   of the default instrument, in milliseconds;
// - the SoundFont kind with 16 notes held, per 256-frame buffer, next to
//   FluidSynth's own cost for the same notes (the wrapper should add nothing),
//   as a fraction of the real-time budget.

#include "budget.h"
#include "core/resourcedir.h"
#include "engine/zubengine.h"
#include "instruments/instrument.h"
#include "instruments/instrumentcollection.h"

#include <benchmark/benchmark.h>
#include <fluidsynth.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <vector>

namespace {

constexpr int kFrames = 256;
constexpr int kHeldNotes = 16;
constexpr int kFirstNote = 48;
constexpr int kStringsProgram = 48;
const char* const kStringsDir = "res/instruments/20_soundfont/stringensemble";
const char* const kSoundFont = "/usr/share/sounds/sf2/FluidR3_GM.sf2";

// The content lives beside the program; the engine looks in the working directory.
bool enterContentDir(benchmark::State& state)
{
    const auto dir = std::filesystem::read_symlink("/proc/self/exe").parent_path();
    std::filesystem::current_path(dir);
    if (std::filesystem::is_directory("res/instruments"))
        return true;
    state.SkipWithError("no res/ beside the program: build the content target");
    return false;
}

template <typename Clock>
double millisecondsSince(typename Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

void BM_CatalogueScan(benchmark::State& state)
{
    if (!enterContentDir(state))
        return;
    for (auto _ : state) {
        InstrumentCollection collection(nullptr, ZUB_RESOURCE_DIR);
        benchmark::DoNotOptimize(collection.groups().data());
    }
}

bool sounds(const std::vector<float>& buffer)
{
    for (float v : buffer)
        if (std::fabs(v) > 1e-4f)
            return true;
    return false;
}

// Engine construction (default instrument and catalogue) until a note is heard.
void BM_StartupToFirstNote(benchmark::State& state)
{
    if (!enterContentDir(state))
        return;
    std::vector<float> buffer(2 * kFrames);
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        ZubEngine engine(nullptr);
        bool heard = false;
        for (int attempt = 0; attempt < 100000 && !heard; ++attempt) {
            engine.noteOn(60, 127);
            engine.process(buffer.data(), kFrames);
            heard = sounds(buffer);
        }
        state.SetIterationTime(millisecondsSince<std::chrono::steady_clock>(start) / 1000.0);
        if (!heard)
            state.SkipWithError("the default instrument never sounded");
    }
}

void BM_SoundFontInstrument16Notes(benchmark::State& state)
{
    if (!enterContentDir(state))
        return;
    Instrument instrument;
    instrument.loadFromDirectory(kStringsDir);
    instrument.waitForLoad();
    if (!instrument.isReady()) {
        state.SkipWithError("the SoundFont instrument did not load");
        return;
    }
    for (int i = 0; i < kHeldNotes; ++i)
        instrument.noteOn(kFirstNote + i);
    std::vector<float> buffer(2 * kFrames);
    for (auto _ : state) {
        instrument.process(buffer.data(), kFrames);
        benchmark::DoNotOptimize(buffer.data());
    }
    reportBudget(state, kFrames);
}

// The same font, program, reverb and notes straight through FluidSynth.
void BM_FluidSynthDirect16Notes(benchmark::State& state)
{
    fluid_settings_t* settings = new_fluid_settings();
    fluid_synth_t* synth = new_fluid_synth(settings);
    if (fluid_synth_sfload(synth, kSoundFont, 1) == FLUID_FAILED) {
        state.SkipWithError("cannot load the SoundFont");
    } else {
        fluid_synth_program_change(synth, 0, kStringsProgram);
        fluid_synth_reverb_on(synth, -1, 1);
        fluid_synth_set_reverb_group_roomsize(synth, -1, 0.6);
        fluid_synth_set_reverb_group_damp(synth, -1, 0.0);
        fluid_synth_set_reverb_group_width(synth, -1, 0.5);
        fluid_synth_set_reverb_group_level(synth, -1, 0.9);
        for (int i = 0; i < kHeldNotes; ++i)
            fluid_synth_noteon(synth, 0, kFirstNote + i, 127);
        std::vector<float> left(kFrames), right(kFrames);
        for (auto _ : state) {
            fluid_synth_write_float(synth, kFrames, left.data(), 0, 1, right.data(), 0, 1);
            benchmark::DoNotOptimize(left.data());
            benchmark::DoNotOptimize(right.data());
        }
        reportBudget(state, kFrames);
    }
    delete_fluid_synth(synth);
    delete_fluid_settings(settings);
}

} // namespace

BENCHMARK(BM_CatalogueScan)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StartupToFirstNote)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_SoundFontInstrument16Notes);
BENCHMARK(BM_FluidSynthDirect16Notes);

BENCHMARK_MAIN();
