// An idea's folder as a project keeps it: loop WAV files plus the idea's MIDI
// file beside the folder, loaded into the idea collection and played.
#include "loops/ideacollection.h"
#include "loops/looppool.h"
#include "support/fuzzfile.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <filesystem>
#include <vector>

namespace {
constexpr int kMaxLoops = 4;
constexpr std::size_t kMaxPart = 1 << 16;
} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    FuzzFile::silenceLogs();
    std::filesystem::create_directories(FuzzFile::folder() + "/audio/idea");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    FuzzedDataProvider in(data, size);
    const std::string audio = FuzzFile::folder() + "/audio";
    const std::string dir = audio + "/idea";
    // The folder stays; this input's loop files replace the ones of the
    // input before, and those it has no match for go.
    static int filesBefore = 0;
    FuzzFile::write("audio/idea.mid", in.ConsumeRandomLengthString(kMaxPart));
    const int numLoops = in.ConsumeIntegralInRange(0, kMaxLoops);
    for (int i = 0; i < numLoops; ++i)
        FuzzFile::write("audio/idea/loop" + std::to_string(i) + ".wav", in.ConsumeRandomLengthString(kMaxPart));
    for (int i = numLoops; i < filesBefore; ++i)
        std::filesystem::remove(dir + "/loop" + std::to_string(i) + ".wav");
    filesBefore = numLoops;

    // One collection for the run, emptied before each input.
    static LoopPool pool;
    static IdeaCollection ideas(&pool, [] {});
    ideas.clearAll();
    pool.collectGarbage();
    ideas.loadIdea(dir, "idea");
    Json::Value root;
    ideas.toJson(root);
    static std::vector<float> out(2 * 64);
    for (int cycle = 0; cycle < 4; ++cycle) {
        ideas.process(out.data(), 64);
        ideas.syncPlayPos(64 * (cycle + 1));
    }
    return 0;
}
