#pragma once

#include "core/zubtypes.h"

#include <vector>

class PlaybackEngine;
struct SRC_STATE_tag;

// Plays the engine, which runs at 44,100 Hz, on a device at another rate: a
// streaming sinc converter pulls engine blocks as it needs them to fill each
// device buffer. Engine frame e lands on device frame e x ratio() exactly;
// the converter only holds some engine frames back until it can use them.
// Everything is allocated at construction: render() neither allocates nor
// locks, whatever the size of the buffer.
class PlaybackResampler
{
public:
    // The most engine frames one pull asks the engine for.
    static constexpr int MAX_ENGINE_BLOCK = 4096;

    PlaybackResampler(PlaybackEngine* engine, int deviceRate);
    ~PlaybackResampler();

    bool isValid() const { return m_pState != nullptr; }
    // Device rate / engine rate.
    double ratio() const { return m_ratio; }
    // Engine frames pulled so far: the next pull starts at this frame.
    int64 engineFrames() const { return m_engineFrames; }

    // Audio thread: fills `frames` interleaved stereo device frames.
    void render(float* out, int64 frames);

    PlaybackResampler(const PlaybackResampler&) = delete;
    PlaybackResampler& operator=(const PlaybackResampler&) = delete;

private:
    static long pull(void* self, float** data);

    PlaybackEngine* m_pEngine;
    SRC_STATE_tag* m_pState = nullptr;
    double m_ratio;
    std::vector<float> m_block;
    int m_request = 1;
    int64 m_engineFrames = 0;
};
