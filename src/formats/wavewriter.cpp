#include "formats/wavewriter.h"

#include "core/log.h"
#include "core/zubtypes.h"
#include "dsp/floattoint16.h"
#include "formats/wavheader.h"

#include <algorithm>
#include <cstdio>

namespace {

bool writeBody(std::FILE* f, const float* samples, int numSamples)
{
    WavHeader header("foo.wav", ZUB_FRAMESIZE, ZUB_SAMPLE_RATE, 16, numSamples / ZUB_FRAMESIZE);
    unsigned char bytes[WavHeader::kSize];
    if (std::fwrite(bytes, 1, header.read(bytes, sizeof(bytes)), f) != sizeof(bytes))
        return false;

    TriangularDither dither;
    std::int16_t block[4096];
    const int count = numSamples / ZUB_FRAMESIZE * ZUB_FRAMESIZE; // whole frames only
    for (int done = 0; done < count;) {
        const int n = std::min<int>(count - done, std::size(block));
        floatToInt16(block, samples + done, n, dither);
        // WAV samples are little-endian, as is every machine this builds for.
        if (std::fwrite(block, sizeof(std::int16_t), n, f) != static_cast<std::size_t>(n))
            return false;
        done += n;
    }
    return true;
}

} // namespace

int writeWav(const std::string& path, const float* samples, int numSamples)
{
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) {
        logError() << "Failed to open " << path;
        return 1;
    }
    const bool written = writeBody(f, samples, std::max(numSamples, 0));
    if (std::fclose(f) != 0 || !written) {
        logError() << "Failed to write " << path;
        return 1;
    }
    return 0;
}
