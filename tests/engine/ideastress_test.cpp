// The audio cycle runs on one thread while the API thread makes, clones,
// mutes and deletes ideas and loops and a MIDI thread plays notes. Run it
// under ThreadSanitizer (MOTIFO_SANITIZE=thread) to check the locking.
// MOTIFO_STRESS_SECONDS sets how long it runs (3 s by default).
#include "engine/transport.h"
#include "engine/zubapi.h"
#include "engine/zubengine.h"
#include "loops/idea.h"
#include "loops/ideacollection.h"
#include "loops/looppool.h"

#include <gtest/gtest.h>
#include <json/reader.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <iostream>
#include <random>
#include <set>
#include <thread>
#include <vector>

namespace {

double stressSeconds()
{
    const char* s = std::getenv("MOTIFO_STRESS_SECONDS");
    return s ? std::atof(s) : 3.0;
}

class ApiDriver
{
public:
    explicit ApiDriver(ZubApi& api) : m_api(api) { }

    std::string send(const std::string& m)
    {
        m_api.handleMessage(m);
        return m_api.reply();
    }

    // One random step a user could take on the page.
    void step(std::mt19937& rng)
    {
        const Json::Value state = ideaState();
        const Json::Value& ideas = state["ideas"];
        const int idea = ideas.empty() ? 0 : ideas[int(rng() % ideas.size())]["id"].asInt();
        const Json::Value& loops = ideas.empty() ? Json::Value::nullSingleton()
                                                 : ideas[int(rng() % ideas.size())]["loops"];
        const int loop = loops.empty() ? 0 : loops[int(rng() % loops.size())]["id"].asInt();
        const std::string ideaRef = "{ \"idea_collection\" : { \"ideas\" : [ { \"id\" : " + std::to_string(idea);
        switch (rng() % 10) {
        case 0:
        case 1:
            send("createLoopFromLoopRecorder");
            break;
        case 2:
            send("cloneIdea:" + std::to_string(idea));
            break;
        case 3:
            send(ideaRef + ", \"loops\" : [ { \"id\" : " + std::to_string(loop) + ", \"mute\" : "
                 + (rng() % 2 ? "true" : "false") + " } ] } ] } }");
            break;
        case 4:
            send(ideaRef + ", \"loops\" : [ { \"id\" : " + std::to_string(loop) + ", \"_destroy\" : true } ] } ] } }");
            break;
        case 5:
            if (ideas.size() > 1)
                send(ideaRef + ", \"_destroy\" : true } ] } }");
            break;
        case 6:
            send("{ \"idea_collection\" : { \"active_idea_id\" : " + std::to_string(idea) + " } }");
            break;
        case 7:
            send(std::string("{ \"loop_recorder\" : { \"record\" : ") + (rng() % 2 ? "true" : "false")
                 + ", \"beats\" : " + std::to_string(2 << (rng() % 2)) + " } }");
            break;
        case 8:
            send("getLoopRecorder");
            send("getProject");
            break;
        default:
            if (rng() % 8 == 0)
                send("clearProject");
            break;
        }
    }

    Json::Value ideaState()
    {
        Json::Value v;
        Json::Reader().parse(send("getIdeaCollection"), v);
        return v["idea_collection"];
    }

private:
    ZubApi& m_api;
};

TEST(IdeaStress, AudioCycleWhileTheApiEditsIdeasAndLoops)
{
    Transport::instance().setPosition(0);
    Transport::instance().setBpm(120.0f);
    ZubEngine engine(nullptr);
    ZubApi api(&engine);
    ApiDriver driver(api);
    // Short recorder loops keep the memory small.
    driver.send("{ \"loop_recorder\" : { \"beats\" : 2, \"record\" : true } }");

    std::atomic<bool> stop { false };
    std::atomic<long> cycles { 0 };
    std::thread audio([&] {
        std::vector<float> buf(2 * 256);
        while (!stop.load()) {
            std::fill(buf.begin(), buf.end(), 0.1f);
            engine.process(buf.data(), 256);
            cycles.fetch_add(1);
            // A real callback leaves the locks free between cycles.
            std::this_thread::sleep_for(std::chrono::microseconds(100));
        }
    });
    std::thread midi([&] {
        for (int note = 0; !stop.load(); note = (note + 7) % 128) {
            engine.noteOn(note, 100);
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            engine.noteOff(note);
        }
    });

    std::mt19937 rng(12345);
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(stressSeconds());
    long steps = 0;
    while (std::chrono::steady_clock::now() < end) {
        driver.step(rng);
        if (engine.loopPool()->size() > 40)
            driver.send("clearProject");
        ++steps;
    }
    stop = true;
    audio.join();
    midi.join();

    std::cout << "stress: " << steps << " API steps, " << cycles.load() << " audio cycles" << std::endl;
    EXPECT_GT(steps, 50);
    EXPECT_GT(cycles.load(), 50);
    // Whatever happened, the state is whole: unique ids, an active idea if any,
    // and every loop of every idea still in the pool.
    const Json::Value state = driver.ideaState();
    std::set<int> ideaIds;
    for (const Json::Value& idea : state["ideas"]) {
        EXPECT_TRUE(ideaIds.insert(idea["id"].asInt()).second);
        for (const Json::Value& loop : idea["loops"])
            EXPECT_NE(engine.loopPool()->getLoop(loop["id"].asInt()), nullptr);
    }
    EXPECT_EQ(state["ideas"].empty(), state["active_idea_id"].asInt() == 0);
}

} // namespace
