// An idea's folder as a project keeps it: loop WAV files plus the idea's MIDI
// file beside the folder, loaded into the idea collection and played.
#include "engine/project.h"
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
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    FuzzedDataProvider in(data, size);
    const std::string audio = FuzzFile::folder() + "/audio";
    const std::string dir = audio + "/idea";
    std::filesystem::remove_all(audio);
    std::filesystem::create_directories(dir);
    FuzzFile::write("audio/idea.mid", in.ConsumeRandomLengthString(kMaxPart));
    const int numLoops = in.ConsumeIntegralInRange(0, kMaxLoops);
    for (int i = 0; i < numLoops; ++i)
        FuzzFile::write("audio/idea/loop" + std::to_string(i) + ".wav", in.ConsumeRandomLengthString(kMaxPart));

    LoopPool pool;
    Project project;
    IdeaCollection ideas(&pool, &project);
    ideas.loadIdea(dir, "idea");
    Json::Value root;
    ideas.toJson(root);
    std::vector<float> out(2 * 256);
    for (int cycle = 0; cycle < 4; ++cycle) {
        ideas.process(out.data(), 256);
        ideas.syncPlayPos(256 * (cycle + 1));
    }
    return 0;
}
