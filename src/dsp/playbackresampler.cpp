#include "dsp/playbackresampler.h"

#include "core/playbackengine.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <samplerate.h>

namespace {
// Device frames converted per call into the converter.
constexpr int64 kDeviceChunk = 4096;
}

PlaybackResampler::PlaybackResampler(PlaybackEngine* engine, int deviceRate)
    : m_pEngine(engine)
    , m_ratio(double(deviceRate) / ZUB_SAMPLE_RATE)
    , m_block(std::size_t(MAX_ENGINE_BLOCK) * ZUB_FRAMESIZE)
{
    int error = 0;
    m_pState = src_callback_new(&PlaybackResampler::pull, SRC_SINC_FASTEST, ZUB_FRAMESIZE, &error, this);
}

PlaybackResampler::~PlaybackResampler()
{
    if (m_pState)
        src_delete(m_pState);
}

void PlaybackResampler::render(float* out, int64 frames)
{
    while (frames > 0) {
        const int64 chunk = std::min(frames, kDeviceChunk);
        // Each pull asks the engine for about what this chunk needs, so the
        // engine runs in blocks near the device's own size.
        m_request = int(std::clamp<double>(std::ceil(double(chunk) / m_ratio), 1.0, MAX_ENGINE_BLOCK));
        const long got = m_pState ? src_callback_read(m_pState, m_ratio, long(chunk), out) : 0;
        if (got < chunk) {
            std::memset(out + std::max<long>(got, 0) * ZUB_FRAMESIZE, 0,
                sizeof(float) * ZUB_FRAMESIZE * std::size_t(chunk - std::max<long>(got, 0)));
        }
        out += chunk * ZUB_FRAMESIZE;
        frames -= chunk;
    }
}

long PlaybackResampler::pull(void* self, float** data)
{
    auto* r = static_cast<PlaybackResampler*>(self);
    std::memset(r->m_block.data(), 0, sizeof(float) * ZUB_FRAMESIZE * std::size_t(r->m_request));
    if (r->m_pEngine)
        r->m_pEngine->process(r->m_block.data(), r->m_request);
    r->m_engineFrames += r->m_request;
    *data = r->m_block.data();
    return r->m_request;
}
