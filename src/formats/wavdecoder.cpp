#include "formats/wavdecoder.h"

#include "formats/filebytes.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <system_error>

namespace {

using FilePtr = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;

constexpr std::uint16_t kFormatPcm = 1;
constexpr std::uint16_t kFormatFloat = 3;
constexpr std::uint16_t kFormatExtensible = 0xFFFE;

std::uint32_t le16(const std::uint8_t* p) { return p[0] | (p[1] << 8); }
std::uint32_t le32(const std::uint8_t* p) { return le16(p) | (le16(p + 2) << 16); }

struct Format {
    std::uint16_t tag = 0;
    int channels = 0;
    int rate = 0;
    int bits = 0;
    int blockAlign = 0;
};

// One sample of the given encoding at p, as a float at full scale 1.0.
float sampleAt(const std::uint8_t* p, const Format& f)
{
    if (f.tag == kFormatFloat) {
        if (f.bits == 32) {
            float v;
            std::memcpy(&v, p, 4);
            return v;
        }
        double v;
        std::memcpy(&v, p, 8);
        return float(v);
    }
    switch (f.bits) {
    case 8:
        return (float(p[0]) - 128.0f) / 128.0f;
    case 16:
        return float(std::int16_t(le16(p))) / 32768.0f;
    case 24: // placed in the top three bytes, so the shift back keeps the sign
        return float(std::int32_t((std::uint32_t(p[0]) << 8) | (std::uint32_t(p[1]) << 16) | (std::uint32_t(p[2]) << 24))
                   >> 8)
            / 8388608.0f;
    default:
        return float(double(std::int32_t(le32(p))) / 2147483648.0);
    }
}

// Reads the "fmt " chunk body; returns why it cannot be used, or "".
std::string readFormat(const std::uint8_t* b, std::uint32_t size, Format& f)
{
    if (size < 16)
        return "it is damaged (its format chunk is too short)";
    f.tag = std::uint16_t(le16(b));
    f.channels = int(le16(b + 2));
    f.rate = int(le32(b + 4));
    f.blockAlign = int(le16(b + 12));
    f.bits = int(le16(b + 14));
    if (f.tag == kFormatExtensible) {
        if (size < 40)
            return "it is damaged (its format chunk is too short)";
        f.tag = std::uint16_t(le16(b + 24)); // the sub-format's first two bytes
    }
    if (f.tag != kFormatPcm && f.tag != kFormatFloat)
        return "its sound is compressed; Motifo reads uncompressed (PCM or float) WAV files";
    const bool pcmBits = f.bits == 8 || f.bits == 16 || f.bits == 24 || f.bits == 32;
    const bool floatBits = f.bits == 32 || f.bits == 64;
    if (f.tag == kFormatPcm ? !pcmBits : !floatBits)
        return "its samples have " + std::to_string(f.bits) + " bits, which Motifo does not read";
    if (f.channels <= 0 || f.rate <= 0 || f.blockAlign != f.channels * f.bits / 8)
        return "it is damaged (its format chunk does not add up)";
    return {};
}

} // namespace

std::string WavDecoder::decode(const std::string& path, Audio& audio, int maxChannels, double maxSeconds)
{
    audio = Audio();
    FilePtr file(std::fopen(path.c_str(), "rb"), &std::fclose);
    if (!file)
        return "it cannot be read (" + std::error_code(errno, std::generic_category()).message() + ")";
    std::FILE* f = file.get();
    std::uint8_t riff[12];
    if (std::fread(riff, 1, 12, f) != 12 || std::memcmp(riff, "RIFF", 4) != 0 || std::memcmp(riff + 8, "WAVE", 4) != 0)
        return "it is not a WAV file";

    Format format;
    bool haveFormat = false;
    std::uint8_t chunk[8];
    while (std::fread(chunk, 1, 8, f) == 8) {
        const std::uint32_t size = le32(chunk + 4);
        if (std::memcmp(chunk, "fmt ", 4) == 0) {
            std::vector<std::uint8_t> body(std::min<std::uint32_t>(size, 64));
            if (std::fread(body.data(), 1, body.size(), f) != body.size())
                return "it is damaged (its format chunk is cut short)";
            if (std::string why = readFormat(body.data(), std::uint32_t(body.size()), format); !why.empty())
                return why;
            if (format.channels > maxChannels)
                return "it has " + std::to_string(format.channels) + " channels; Motifo takes mono or stereo sound";
            haveFormat = true;
            if (std::fseek(f, long(size - body.size() + (size & 1)), SEEK_CUR) != 0)
                return "it is damaged (its format chunk is cut short)";
            continue;
        }
        if (std::memcmp(chunk, "data", 4) != 0) {
            // Chunks are padded to an even size.
            if (std::fseek(f, long(size) + long(size & 1), SEEK_CUR) != 0)
                break;
            continue;
        }
        if (!haveFormat)
            return "it is damaged (its sound comes before its format)";
        // Writers that stream give the size as unknown or too large.
        const std::size_t frames = std::size_t(std::min<std::uint64_t>(size, bytesLeft(f))) / std::size_t(format.blockAlign);
        if (double(frames) > maxSeconds * format.rate)
            return "it lasts longer than " + std::to_string(int(maxSeconds / 60)) + " minutes";
        std::vector<std::uint8_t> bytes(frames * std::size_t(format.blockAlign));
        // A file cut short keeps what is there.
        const std::size_t got = std::fread(bytes.data(), std::size_t(format.blockAlign), frames, f);
        const int bytesPerSample = format.bits / 8;
        audio.samples.resize(got * std::size_t(format.channels));
        for (std::size_t i = 0; i < audio.samples.size(); ++i) {
            const float v = sampleAt(bytes.data() + i * std::size_t(bytesPerSample), format);
            audio.samples[i] = std::isfinite(v) ? v : 0.0f; // one NaN would silence the whole mix
        }
        audio.sampleRate = format.rate;
        audio.channels = format.channels;
        if (audio.samples.empty())
            return "it holds no sound";
        return {};
    }
    return haveFormat ? "it holds no sound" : "it is damaged (it has no format chunk)";
}
