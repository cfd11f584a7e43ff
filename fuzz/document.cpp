// Opening a project: the document is the input; beside it lies an audio
// folder with two ideas, one of them named in the seed documents.
#include "engine/projectfile.h"
#include "engine/transport.h"
#include "engine/zubapi.h"
#include "engine/zubengine.h"
#include "loops/looprecorder.h"
#include "support/fuzzfile.h"

#include <cstdint>
#include <filesystem>
#include <vector>

namespace {
// A few frames of silence in the loop file format: the document steers
// which ideas open, not the audio.
std::string silentWav()
{
    auto le = [](uint32_t v, int n) { std::string s; for (int i = 0; i < n; ++i) s += char(v >> (8 * i)); return s; };
    const uint32_t bytes = 64 * 4;
    return "RIFF" + le(36 + bytes, 4) + "WAVEfmt " + le(16, 4) + le(1, 2) + le(2, 2) + le(44100, 4)
        + le(44100 * 4, 4) + le(4, 2) + le(16, 2) + "data" + le(bytes, 4) + std::string(bytes, '\0');
}
} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    FuzzFile::silenceLogs();
    for (const char* idea : { "Verse", "Chorus" }) {
        std::filesystem::create_directories(FuzzFile::folder() + "/song - Audio and MIDI/" + idea);
        FuzzFile::write(std::string("song - Audio and MIDI/") + idea + "/loop0.wav", silentWav());
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    static ZubEngine engine(nullptr);
    static ZubApi api(&engine);
    static std::vector<float> buffer(2 * 32);
    // The shortest recorder: a document's tempo re-makes its buffer, and a
    // long one costs most of each input.
    static const std::string shortRecorder = api.handleMessage("{ \"loop_recorder\" : { \"beats\" : 2 } }");
    Transport::instance().setPosition(0);
    ProjectFile file(&engine);
    file.open(FuzzFile::write("song.zub", data, size), FuzzFile::folder());
    api.handleMessage("getIdeaCollection");
    engine.process(buffer.data(), 32);
    // No input ends with the recorder's spare thread running (see api.cpp).
    engine.loopRecorder()->settleSpare();
    return 0;
}
