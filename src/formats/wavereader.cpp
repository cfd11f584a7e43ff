#include "formats/wavereader.h"

#include "core/alignedfloats.h"
#include "core/log.h"
#include "formats/filebytes.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>

namespace {

using FilePtr = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;

// A write cut short loses its tail; the silence put in its place is limited
// to one second, so a damaged header cannot make a tiny file cost gigabytes.
constexpr std::uint32_t kMaxSilentTailBytes = 44100 * 4;

std::uint32_t le16(const std::uint8_t* p) { return p[0] | (p[1] << 8); }
std::uint32_t le32(const std::uint8_t* p) { return le16(p) | (le16(p + 2) << 16); }
bool isId(const std::uint8_t* p, const char* id) { return std::memcmp(p, id, 4) == 0; }

// Checks the RIFF and format headers and finds the data chunk (one "cue "
// chunk may come before it). Returns null when all is well, else the reason.
const char* readHeader(std::FILE* f, std::uint32_t& dataSize)
{
    std::uint8_t riff[12], fmt[24], chunk[8];
    if (std::fread(riff, 1, 12, f) != 12 || std::fread(fmt, 1, 24, f) != 24
        || std::fread(chunk, 1, 8, f) != 8)
        return "header too short";
    if (!isId(riff, "RIFF") || !isId(riff + 8, "WAVE"))
        return "not a RIFF/WAVE file";
    if (!isId(fmt, "fmt ") || le32(fmt + 4) != 16 || le16(fmt + 8) != 1)
        return "not a plain PCM format chunk";
    const std::uint32_t channels = le16(fmt + 10), rate = le32(fmt + 12), bits = le16(fmt + 22);
    if (channels != 2 || rate != 44100 || bits != 16)
        return "not 16-bit stereo at 44100 Hz";
    if (le32(fmt + 16) != rate * channels * bits / 8 || le16(fmt + 20) != channels * bits / 8)
        return "byte rate or block align do not match the format";
    if (isId(chunk, "cue ")) {
        if (std::fseek(f, le32(chunk + 4), SEEK_CUR) != 0 || std::fread(chunk, 1, 8, f) != 8)
            return "header too short";
    }
    if (!isId(chunk, "data"))
        return "no data chunk where expected";
    dataSize = le32(chunk + 4);
    return nullptr;
}

// Converts the 16-bit samples present in the file; the rest stay zero.
std::size_t readSamples(std::FILE* f, float* samples, std::size_t n)
{
    // Times the reciprocal gives every one of the 65,536 values exactly as
    // dividing by 32767 does, at a fraction of the cost.
    constexpr double kScale = 1.0 / 32767.0;
    std::uint8_t block[8192];
    std::size_t done = 0;
    while (done < n) {
        const std::size_t want = std::min(n - done, sizeof(block) / 2);
        const std::size_t got = std::fread(block, 2, want, f);
        for (std::size_t i = 0; i < got; ++i)
            samples[done + i] = static_cast<float>(static_cast<std::int16_t>(le16(block + 2 * i)) * kScale);
        done += got;
        if (got < want)
            break;
    }
    std::fill(samples + done, samples + n, 0.0f);
    return done;
}

} // namespace

int readWav(const std::string& path, float*& samples, int& numSamples)
{
    samples = nullptr;
    numSamples = 0;
    FilePtr f(std::fopen(path.c_str(), "rb"), &std::fclose);
    if (!f) {
        logError() << "Failed to open sample: " << path;
        return 1;
    }
    std::uint32_t dataSize = 0;
    if (const char* reason = readHeader(f.get(), dataSize)) {
        logError() << "Unsupported WAV file " << path << ": " << reason;
        return 1;
    }
    const std::uint64_t present = bytesLeft(f.get());
    if (dataSize > present + kMaxSilentTailBytes) {
        logInfo() << "WAV header of " << path << " announces " << dataSize << " data bytes, the file holds "
                  << present << "; reading those";
        dataSize = std::uint32_t(present);
    }
    const std::size_t n = dataSize / 2;
    logDebug() << "Number of samples in WAVE: " << n;

    float* out = allocateAlignedFloats(n);
    if (!out) {
        logError() << "Unsupported WAV file " << path << ": no memory for " << n << " samples";
        return 1;
    }
    const std::size_t got = readSamples(f.get(), out, n);
    logDebug() << "Bytes read: " << got * 2;
    logDebug() << "= # of samples: " << got;
    logDebug() << "error code: " << std::ferror(f.get());
    if (got < n)
        logInfo() << "WAV data of " << path << " ends early; the last " << n - got << " samples are silence";
    samples = out;
    numSamples = static_cast<int>(n);
    return 0;
}
