#include "formats/sample.h"

#include "core/alignedfloats.h"
#include "core/log.h"
#include "formats/vorbisheadercheck.h"
#include "formats/wavereader.h"

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <memory>
#include <new>
#include <vector>

#define STB_VORBIS_HEADER_ONLY
#include "stb_vorbis.h"

namespace {

// Larger files are not samples; the decoder takes an int length.
constexpr std::size_t kMaxOggFileBytes = std::size_t(256) << 20;
constexpr int kDecodeChunkFrames = 4096;
// As long as the longest loop the recorder makes (about 12.7 minutes).
constexpr std::size_t kMaxOggSamples = std::size_t(1) << 26;
// The decoder's memory comes from one block of ours: it then leaves nothing
// behind on the error paths where it would lose its own allocations (a
// damaged codebook), and costs one allocation instead of hundreds. Real
// files need about 220 KB (libvorbis at any quality); the block grows until
// the setup fits, up to a bound that also stops a damaged codebook claiming
// millions of entries from being read bit by bit past its packet's end.
constexpr int kFirstDecoderBytes = 512 << 10;
constexpr int kMaxDecoderBytes = 4 << 20;

bool readWholeFile(const std::string& path, std::vector<uint8_t>& data)
{
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    const std::streamoff size = in ? std::streamoff(in.tellg()) : -1;
    if (size < 0 || std::size_t(size) > kMaxOggFileBytes)
        return false;
    data.resize(std::size_t(size));
    in.seekg(0);
    return bool(in.read(reinterpret_cast<char*>(data.data()), size));
}

// Opens the decoder in memory of its own, held by memory; null when the file
// does not open.
stb_vorbis* openVorbis(const std::vector<uint8_t>& file, std::unique_ptr<char[]>& memory)
{
    for (int bytes = kFirstDecoderBytes; bytes <= kMaxDecoderBytes; bytes *= 2) {
        memory.reset(new (std::nothrow) char[std::size_t(bytes)]);
        if (!memory)
            return nullptr;
        const stb_vorbis_alloc block { memory.get(), bytes };
        int error = 0;
        stb_vorbis* vorbis = stb_vorbis_open_memory(file.data(), int(file.size()), &error, &block);
        if (vorbis || error != VORBIS_outofmem)
            return vorbis;
    }
    return nullptr;
}

} // namespace

Sample::Sample(const std::string& path)
    : m_path(path)
{
    int rc = 1;
    if (path.ends_with(".wav"))
        rc = readWav(path, m_pData, m_numSamples);
    else if (path.ends_with(".ogg"))
        rc = loadOgg();

    if (rc == 0)
        logInfo() << "Loaded sample " << path << " with length " << m_numSamples;
    else
        logInfo() << "Failed to load " << path;
}

Sample::~Sample()
{
    freeAlignedFloats(m_pData);
}

int Sample::loadOgg()
{
    std::vector<uint8_t> file;
    if (!readWholeFile(m_path, file))
        return 1;
    if (!VorbisHeaderCheck::commentsFit(file.data(), file.size())) {
        logInfo() << "Damaged Ogg Vorbis header in " << m_path;
        return 1;
    }
    std::unique_ptr<char[]> memory;
    stb_vorbis* vorbis = openVorbis(file, memory);
    if (!vorbis)
        return 1;
    const stb_vorbis_info info = stb_vorbis_get_info(vorbis);
    // The length the file announces is not trusted: it is decoded piece by
    // piece up to the longest sample there can be.
    std::vector<float> decoded;
    std::vector<float> chunk(2 * kDecodeChunkFrames);
    int frames = 0;
    while (decoded.size() < kMaxOggSamples
        && (frames = stb_vorbis_get_samples_float_interleaved(vorbis, 2, chunk.data(), int(chunk.size()))) > 0)
        decoded.insert(decoded.end(), chunk.begin(), chunk.begin() + 2 * frames);
    stb_vorbis_close(vorbis);
    if (decoded.size() > kMaxOggSamples) {
        logInfo() << "Ogg file " << m_path << " is longer than " << kMaxOggSamples / 2 << " frames; the rest is left out";
        decoded.resize(kMaxOggSamples);
    }

    // The decoder leaves the second channel of a mono file silent.
    if (info.channels == 1)
        for (std::size_t i = 0; i + 1 < decoded.size(); i += 2)
            decoded[i + 1] = decoded[i];
    m_pData = allocateAlignedFloats(decoded.size());
    if (!m_pData)
        return 1;
    std::copy(decoded.begin(), decoded.end(), m_pData);
    m_numSamples = int(decoded.size());
    return 0;
}
