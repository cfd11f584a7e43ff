#include "dsp/captureresampler.h"

#include <algorithm>
#include <samplerate.h>

CaptureResampler::CaptureResampler(int channels, int deviceRate)
    : m_channels(std::clamp(channels, 1, 2))
    , m_ratio(double(ZUB_SAMPLE_RATE) / deviceRate)
    , m_out(std::size_t(CHUNK_FRAMES))
    , m_stereo(std::size_t(CHUNK_FRAMES) * ZUB_FRAMESIZE)
{
    int error = 0;
    m_pState = src_new(SRC_SINC_FASTEST, m_channels, &error);
}

CaptureResampler::~CaptureResampler()
{
    if (m_pState)
        src_delete(m_pState);
}

int64 CaptureResampler::convertChunk(const float* in, int64 frames, int64& used)
{
    // Offers no more input than the chunk can take out at this ratio.
    const int64 fits = std::max<int64>(1, int64((CHUNK_FRAMES - 4) / m_ratio));
    SRC_DATA data {};
    data.data_in = in;
    data.input_frames = long(std::min(frames, fits));
    data.data_out = m_channels == 2 ? m_stereo.data() : m_out.data();
    data.output_frames = CHUNK_FRAMES;
    data.src_ratio = m_ratio;
    if (src_process(m_pState, &data) != 0) {
        used = 0;
        return 0;
    }
    used = data.input_frames_used;
    const int64 made = data.output_frames_gen;
    for (int64 i = 0; m_channels == 1 && i < made; ++i)
        m_stereo[2 * i] = m_stereo[2 * i + 1] = m_out[i];
    m_engineFrames += made;
    return made;
}
