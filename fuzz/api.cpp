// The JSON message API on a live engine: each input is a few messages, one
// per line, as the page would send them, with an audio cycle after each.
#include "engine/transport.h"
#include "engine/zubapi.h"
#include "engine/zubengine.h"
#include "loops/looprecorder.h"
#include "support/fuzzfile.h"

#include <cstdint>
#include <string>
#include <vector>

namespace {
constexpr int kMaxMessages = 16;
// A short cycle: what the messages steer does not depend on the cycle's
// length, and the mix under coverage costs most of each input.
constexpr int kCycleFrames = 32;
} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    FuzzFile::silenceLogs();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    // One engine for the run (making one per input is slow); each input
    // starts from the same state, so a crash replays from its input alone.
    static ZubEngine engine(nullptr);
    static ZubApi api(&engine);
    static std::vector<float> buffer(2 * kCycleFrames);
    // (Clearing the recorder's audio is left out: it is slow under coverage
    // and the samples' values steer nothing.) Only what an input changed is
    // set back: a new recorder length makes a fresh buffer on a thread.
    // Recording stops first: a recorder that is not recording re-makes no
    // spare buffer when the tempo below changes its length.
    api.handleMessage("{ \"loop_recorder\" : { \"record\" : false }, \"metronome\" : { \"mute\" : false } }");
    Transport::instance().setPosition(0);
    if (Transport::instance().bpm() != 120.0f)
        engine.setTempo(120.0f);
    api.handleMessage("clearProject");
    if (engine.loopRecorder()->numBeats() != 2)
        api.handleMessage("{ \"loop_recorder\" : { \"beats\" : 2 } }");

    const std::string text(reinterpret_cast<const char*>(data), size);
    std::size_t begin = 0;
    for (int i = 0; i < kMaxMessages && begin <= text.size(); ++i) {
        std::size_t end = text.find('\n', begin);
        if (end == std::string::npos)
            end = text.size();
        api.handleMessage(text.substr(begin, end - begin));
        (void)api.reply();
        engine.process(buffer.data(), kCycleFrames);
        begin = end + 1;
    }
    // The leak checker that runs between inputs does not scan a thread that
    // got the kernel id of an earlier thread of this process (ids wrap at
    // pid_max, and it still files joined threads under their ids): a buffer
    // the recorder's spare thread is still making would look lost. So no
    // input ends with that thread running.
    engine.loopRecorder()->settleSpare();
    return 0;
}
