#include "engine/renderer.h"

#include "core/log.h"
#include "core/playbackengine.h"
#include "dsp/floattoint16.h"
#include "formats/wavheader.h"

#include <algorithm>
#include <memory>

namespace {

// The data chunk's byte count must fit the header's 32-bit field.
constexpr int64 kMaxWavFrames = (int64(UINT32_MAX) - 36) / (ZUB_FRAMESIZE * 2);

// Both allocated once per render and reused for every block.
struct BlockBuffers {
    alignas(16) float floats[Renderer::BLOCK_FRAMES * ZUB_FRAMESIZE];
    alignas(16) std::int16_t samples[Renderer::BLOCK_FRAMES * ZUB_FRAMESIZE];
};

} // namespace

void Renderer::renderBlock(PlaybackEngine* source, float* floatBuf, int numFrames, std::int16_t* outBuf, float gain)
{
    source->process(floatBuf, numFrames);
    const int count = numFrames * ZUB_FRAMESIZE;
    for (int i = 0; i < count; ++i)
        floatBuf[i] *= gain;
    TriangularDither dither;
    floatToInt16(outBuf, floatBuf, count, dither);
}

int Renderer::renderToWav(std::FILE* file, PlaybackEngine* source, int64 numFrames, float gain,
                          const Progress& progress)
{
    return renderToSink(
        [file](const void* bytes, std::size_t size) { return std::fwrite(bytes, 1, size, file) == size; }, source,
        numFrames, gain, progress);
}

int Renderer::renderToSink(const Sink& sink, PlaybackEngine* source, int64 numFrames, float gain,
                           const Progress& progress)
{
    if (numFrames < 0 || numFrames > kMaxWavFrames) {
        logError() << "Cannot render " << numFrames << " frames into a WAV file";
        return 1;
    }
    WavHeader header("render.wav", ZUB_FRAMESIZE, ZUB_SAMPLE_RATE, 16, static_cast<int>(numFrames));
    unsigned char headerBytes[WavHeader::kSize];
    bool written = sink(headerBytes, header.read(headerBytes, sizeof(headerBytes)));

    auto buffers = std::make_unique<BlockBuffers>();
    logInfo() << "Rendering " << numFrames << " frames...";
    for (int64 offset = 0; offset < numFrames; offset += BLOCK_FRAMES) {
        std::fill(std::begin(buffers->floats), std::end(buffers->floats), 0.0f);
        renderBlock(source, buffers->floats, BLOCK_FRAMES, buffers->samples, gain);
        const int64 m = std::min<int64>(BLOCK_FRAMES, numFrames - offset);
        written = sink(buffers->samples, std::size_t(m) * ZUB_FRAMESIZE * sizeof(std::int16_t)) && written;
        if (progress)
            progress(offset + m, numFrames);
    }
    return written ? 0 : 1;
}
