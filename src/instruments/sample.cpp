#include "instruments/sample.h"

#include "engine/alignedfloats.h"
#include "engine/wavereader.h"

#include <algorithm>
#include <climits>
#include <iostream>

#define STB_VORBIS_HEADER_ONLY
#include "stb_vorbis.h"

namespace {

bool endsWith(const std::string& s, const char* suffix)
{
    const std::string tail(suffix);
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

} // namespace

Sample::Sample(const std::string& path)
    : m_path(path)
{
    int rc = 1;
    if (endsWith(path, ".wav"))
        rc = readWav(path, m_pData, m_numSamples);
    else if (endsWith(path, ".ogg"))
        rc = loadOgg();

    if (rc == 0)
        std::cout << "Loaded sample " << path << " with length " << m_numSamples << std::endl;
    else
        std::cout << "Failed to load " << path << std::endl;
}

Sample::~Sample()
{
    freeAlignedFloats(m_pData);
}

int Sample::loadOgg()
{
    int error = 0;
    stb_vorbis* vorbis = stb_vorbis_open_filename(m_path.c_str(), &error, nullptr);
    if (!vorbis)
        return 1;
    const stb_vorbis_info info = stb_vorbis_get_info(vorbis);
    const unsigned int frames = stb_vorbis_stream_length_in_samples(vorbis);
    // Two floats per frame must fit the sample count.
    float* data = frames <= INT_MAX / 2 ? allocateAlignedFloats(2 * std::size_t(frames)) : nullptr;
    if (!data) {
        stb_vorbis_close(vorbis);
        return 1;
    }
    std::fill(data, data + 2 * std::size_t(frames), 0.0f);
    const int decoded = stb_vorbis_get_samples_float_interleaved(vorbis, 2, data, 2 * int(frames));
    stb_vorbis_close(vorbis);

    // The decoder leaves the second channel of a mono file silent.
    if (info.channels == 1)
        for (int i = 0; i < decoded; ++i)
            data[2 * i + 1] = data[2 * i];
    m_pData = data;
    m_numSamples = 2 * decoded;
    return 0;
}
