// Every thread that touches the engine at once: the audio callback, the page's
// messages on the GUI thread (a storm of them: instrument switches between a
// sampled, a synth, a SoundFont and a live-input instrument, tempo and
// recorder changes) and a MIDI keyboard playing as fast as its thread can. Meant for
// ThreadSanitizer (scripts/sanitize); MOTIFO_STRESS_SECONDS sets the length.
#include "engine/transport.h"
#include "engine/zubapi.h"
#include "engine/zubengine.h"
#include "instruments/instrument.h"
#include "loops/ideacollection.h"
#include "loops/looppool.h"
#include "support/enginetest.h"
#include "support/instrumentlibrary.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

double stressSeconds()
{
    const char* s = std::getenv("MOTIFO_STRESS_SECONDS");
    return s ? std::atof(s) : 3.0;
}

// What the page sends, good and bad; the ids mostly miss (ids are drawn at
// random), which exercises the refusals alongside the edits.
const char* const kMessages[] = {
    "createLoopFromLoopRecorder",
    "getIdeaCollection",
    "getLoopRecorder",
    "getMetronome",
    "getProject",
    "getMicrosecondsUntilNextBeat",
    "discardChangesConfirmation",
    "setTempo->90",
    "setTempo->140.5",
    "setTempo->500",
    "cloneIdea:1",
    "{ \"loop_recorder\" : { \"record\" : true, \"beats\" : 2 } }",
    "{ \"loop_recorder\" : { \"record\" : false, \"beats\" : 4, \"clear\" : true } }",
    "{ \"loop_recorder\" : { \"beats\" : 3 } }",
    "{ \"metronome\" : { \"mute\" : true } }",
    "{ \"metronome\" : { \"mute\" : false } }",
    "{ \"project\" : { \"bpm\" : 100 } }",
    "{ \"idea_collection\" : { \"active_idea_id\" : 1 } }",
    "{ \"idea_collection\" : { \"ideas\" : [ { \"id\" : 1, \"loops\" : [ { \"id\" : 1, \"mute\" : true } ] } ] } }",
    "{ \"idea_collection\" : { \"ideas\" : [ { \"id\" : 1, \"_destroy\" : true } ] } }",
    "loadInstrument:1",
    "loadInstrument:260",
    "loadInstrument:4001",
    "loadInstrument:500",
    "loadInstrument:77777",
    "getInstrument",
    "noteOn->64",
    "noteOff->64",
    "not a command",
};

TEST(Concurrency, AudioCycleUnderAnApiStormAndAMidiNoteStorm)
{
    Transport::instance().setPosition(0);
    Transport::instance().setBpm(120.0f);
    EmptyWorkingDirectory workingDirectory;
    InstrumentLibrary(std::filesystem::current_path().string()).makeStandard();
    FakeAudioManager audioManager({ "Line In" });
    ZubEngine engine(&audioManager);
    ZubApi api(&engine);

    std::atomic<bool> stop { false };
    std::atomic<long> cycles { 0 }, notes { 0 };
    std::thread audio([&] {
        std::vector<float> buf(2 * 256);
        while (!stop.load()) {
            engine.process(buf.data(), 256);
            cycles.fetch_add(1);
            // A real callback leaves the locks free between cycles.
            std::this_thread::sleep_for(std::chrono::microseconds(50));
        }
    });
    std::thread midi([&] {
        for (int note = 0; !stop.load(); note = (note + 5) % 128) {
            engine.noteOn(note, 100);
            engine.noteOff((note + 64) % 128);
            notes.fetch_add(1);
            std::this_thread::yield();
        }
    });

    std::mt19937 rng(2024);
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(stressSeconds());
    long messages = 0;
    while (std::chrono::steady_clock::now() < end) {
        api.handleMessage(kMessages[rng() % std::size(kMessages)]);
        (void)api.reply();
        if (engine.loopPool()->size() > 32)
            api.handleMessage("clearProject");
        ++messages;
    }
    stop = true;
    audio.join();
    midi.join();
    api.handleMessage("loadInstrument:1");
    engine.instrument()->waitForLoad();

    EXPECT_GT(messages, 100);
    EXPECT_GT(cycles.load(), 100);
    EXPECT_GT(notes.load(), 100);
    // The engine still answers and plays after the storm.
    api.handleMessage("getProject");
    EXPECT_NE(api.reply().find("\"project\""), std::string::npos);
    std::vector<float> buf(2 * 256);
    engine.process(buf.data(), 256);
}

} // namespace
