#pragma once

#include "core/nativeaudiointerface.h"
#include "core/nativejsbridge.h"
#include "engine/zubengine.h"
#include "loops/idea.h"
#include "loops/ideacollection.h"
#include "loops/loop.h"
#include "loops/looppool.h"
#include "support/instrumentlibrary.h" // RecordingBridge

#include <csignal>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <iostream>
#include <sys/resource.h>
#include <memory>
#include <string>
#include <vector>

// Counts stops and starts of the live stream and notes the transport
// position each time the stream stops.
class CountingAudio : public NativeAudioInterface
{
public:
    int start() override { ++starts; return 0; }
    int stop() override { ++stops; return 0; }
    int starts = 0;
    int stops = 0;
};

// Frame k of a loop made by makeLoop holds (value(k, 0), value(k, 1)).
using FrameValue = std::function<float(int64 frame, int channel)>;

inline std::shared_ptr<Loop> makeLoop(ZubEngine& engine, int64 frames, const FrameValue& value)
{
    std::vector<float> data(std::size_t(frames) * 2);
    for (int64 k = 0; k < frames; ++k)
        for (int c = 0; c < 2; ++c)
            data[std::size_t(2 * k + c)] = value(k, c);
    std::shared_ptr<Loop> loop = engine.loopPool()->createLoop();
    loop->copyFrom(data.data(), uint32_t(frames), 0);
    return loop;
}

// A new idea at the end of the collection, holding the loops.
inline Idea* addIdea(ZubEngine& engine, const std::string& name, const std::vector<std::shared_ptr<Loop>>& loops)
{
    Idea* idea = new Idea(engine.loopPool());
    idea->setName(name);
    for (const auto& loop : loops)
        idea->addLoop(loop);
    engine.ideaCollection()->addIdea(idea);
    return idea;
}

inline FrameValue constant(float v)
{
    return [v](int64, int) { return v; };
}

// What run returns, run with files limited to `bytes`: a limit stands in for
// a full disk, as no file can grow past it.
inline int underFileSizeLimit(rlim_t bytes, const std::function<int()>& run)
{
    struct rlimit before {};
    getrlimit(RLIMIT_FSIZE, &before);
    struct rlimit small = before;
    small.rlim_cur = bytes;
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    setrlimit(RLIMIT_FSIZE, &small);
    const int result = run();
    setrlimit(RLIMIT_FSIZE, &before);
    std::signal(SIGXFSZ, oldHandler);
    // A log that goes to a file could not be written meanwhile either.
    for (std::ostream* log : { &std::cout, &std::cerr })
        log->clear();
    std::clearerr(stdout);
    std::clearerr(stderr);
    return result;
}
