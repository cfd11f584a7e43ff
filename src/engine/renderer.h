#pragma once

#include "core/zubtypes.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>

class PlaybackEngine;

// Renders a source offline into a 16-bit stereo 44,100 Hz WAV stream, one
// 512-frame block at a time. Runs on the GUI thread while the live stream is
// stopped.
class Renderer
{
public:
    static constexpr int BLOCK_FRAMES = 512;
    // Takes the stream's bytes in order: the 44-byte header in one call, then
    // one call per block. Returns false when the bytes could not be written.
    using Sink = std::function<bool(const void* bytes, std::size_t size)>;
    // Told the frames rendered so far after every block.
    using Progress = std::function<void(int64 done, int64 total)>;

    // The source adds numFrames into floatBuf; the block is scaled by gain and
    // converted into outBuf with a dither started afresh.
    static void renderBlock(PlaybackEngine* source, float* floatBuf, int numFrames, std::int16_t* outBuf,
                            float gain);
    // Returns 0, or 1 when the file did not take every byte.
    static int renderToWav(std::FILE* file, PlaybackEngine* source, int64 numFrames, float gain,
                           const Progress& progress = {});
    // Returns 0, or 1 when the sink refused bytes or the length does not fit a WAV file.
    static int renderToSink(const Sink& sink, PlaybackEngine* source, int64 numFrames, float gain,
                            const Progress& progress = {});
};
