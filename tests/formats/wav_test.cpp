#include "core/alignedfloats.h"
#include "dsp/floattoint16.h"
#include "formats/wavereader.h"
#include "formats/wavewriter.h"
#include "formats/wavheader.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <set>
#include <vector>

namespace {

// A WAV file built byte by byte, so that each header field can be made wrong.
struct WavFixture
{
    std::string riff = "RIFF";
    std::string wave = "WAVE";
    std::uint32_t fmtSize = 16;
    std::uint16_t format = 1;
    std::uint16_t channels = 2;
    std::uint32_t rate = 44100;
    std::uint16_t bits = 16;
    std::uint32_t byteRate = 176400;
    std::string chunkBefore; // id of a chunk placed between "fmt " and "data"
    std::vector<std::int16_t> samples { 0, 32767, -32768, 16384 };
    int declaredSamples = -1; // data size in the header, in samples; -1: as written

    std::string bytes() const
    {
        std::string b;
        auto put16 = [&](std::uint32_t v) { b += char(v & 0xFF); b += char((v >> 8) & 0xFF); };
        auto put32 = [&](std::uint32_t v) { put16(v & 0xFFFF); put16(v >> 16); };
        const std::uint32_t dataSize = 2 * (declaredSamples < 0 ? samples.size() : declaredSamples);
        b += riff; put32(dataSize + 36); b += wave;
        b += "fmt "; put32(fmtSize); put16(format); put16(channels); put32(rate);
        put32(byteRate); put16(channels * bits / 8); put16(bits);
        if (!chunkBefore.empty()) {
            b += chunkBefore; put32(28); // one cue point: count + 24 bytes
            put32(1);
            b += std::string(24, '\x07');
        }
        b += "data"; put32(dataSize);
        for (std::int16_t s : samples)
            put16(static_cast<std::uint16_t>(s));
        return b;
    }

    std::string write(const TempDir& dir, const std::string& name) const
    {
        const std::string path = dir.file(name);
        std::ofstream(path, std::ios::binary) << bytes();
        return path;
    }
};

struct ReadResult
{
    int rc;
    std::vector<float> samples;
    bool nullOnFailure;
};

ReadResult read(const std::string& path)
{
    float* p = reinterpret_cast<float*>(0x1); // must be overwritten
    int n = -1;
    const int rc = readWav(path, p, n);
    ReadResult r { rc, {}, p == nullptr && n == 0 };
    if (p) {
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(p) % 16, 0u);
        r.samples.assign(p, p + n);
        freeAlignedFloats(p);
    }
    return r;
}

TEST(WavHeader, SizesFollowTheFrameCount)
{
    struct Case { int frames; std::uint32_t data; std::uint32_t riff; };
    for (const Case& c : { Case { 0, 0, 36 }, Case { 22050, 88200, 88236 } }) {
        WavHeader header("foo.wav", 2, 44100, 16, c.frames);
        unsigned char b[64];
        ASSERT_EQ(header.read(b, sizeof(b)), 44);
        EXPECT_EQ(header.read(b, sizeof(b)), 0); // everything handed out
        auto u32 = [&](int o) { return std::uint32_t(b[o] | b[o + 1] << 8 | b[o + 2] << 16 | b[o + 3] << 24); };
        EXPECT_EQ(u32(4), c.riff);
        EXPECT_EQ(u32(40), c.data);
        EXPECT_EQ(std::string(reinterpret_cast<char*>(b), 4), "RIFF");
        EXPECT_EQ(u32(24), 44100u);
        EXPECT_EQ(u32(28), 176400u);
    }
}

TEST(WavHeader, HandsOutBytesInFileOrderAcrossSmallReads)
{
    WavHeader whole("foo.wav", 2, 44100, 16, 1234), pieces("foo.wav", 2, 44100, 16, 1234);
    unsigned char a[44], b[44];
    whole.read(a, 44);
    int got = 0;
    while (int n = pieces.read(b + got, 10))
        got += n;
    EXPECT_EQ(got, 44);
    EXPECT_EQ(std::memcmp(a, b, 44), 0);
}

TEST(ReadWav, ConvertsSixteenBitValues)
{
    TempDir dir;
    const ReadResult r = read(WavFixture().write(dir, "a.wav"));
    ASSERT_EQ(r.rc, 0);
    ASSERT_EQ(r.samples.size(), 4u);
    EXPECT_EQ(r.samples[0], 0.0f);
    EXPECT_EQ(r.samples[1], 1.0f);
    EXPECT_FLOAT_EQ(r.samples[2], -1.0000305f);
    EXPECT_FLOAT_EQ(r.samples[3], 16384.0f / 32767.0f);

    // Every value, to the bit: the sample divided by 32767 in double precision.
    WavFixture all;
    all.samples.clear();
    for (int v = -32768; v <= 32767; ++v)
        all.samples.push_back(static_cast<std::int16_t>(v));
    const ReadResult every = read(all.write(dir, "all.wav"));
    ASSERT_EQ(every.samples.size(), all.samples.size());
    for (std::size_t i = 0; i < all.samples.size(); ++i)
        ASSERT_EQ(every.samples[i], static_cast<float>(all.samples[i] / 32767.0)) << all.samples[i];
}

TEST(ReadWav, SkipsOneCueChunk)
{
    TempDir dir;
    WavFixture withCue;
    withCue.chunkBefore = "cue ";
    const ReadResult a = read(WavFixture().write(dir, "plain.wav"));
    const ReadResult b = read(withCue.write(dir, "cue.wav"));
    ASSERT_EQ(b.rc, 0);
    EXPECT_EQ(a.samples, b.samples);
}

TEST(ReadWav, RejectsFilesOutsideTheSupportedFormat)
{
    struct Case { const char* what; WavFixture f; };
    std::vector<Case> cases;
    auto add = [&](const char* what, auto change) { WavFixture f; change(f); cases.push_back({ what, f }); };
    add("RIFX", [](WavFixture& f) { f.riff = "RIFX"; });
    add("AVI ", [](WavFixture& f) { f.wave = "AVI "; });
    add("format chunk of 18", [](WavFixture& f) { f.fmtSize = 18; });
    add("float format", [](WavFixture& f) { f.format = 3; });
    add("mono", [](WavFixture& f) { f.channels = 1; f.byteRate = 88200; });
    add("48 kHz", [](WavFixture& f) { f.rate = 48000; f.byteRate = 192000; });
    add("24 bit", [](WavFixture& f) { f.bits = 24; f.byteRate = 264600; });
    add("wrong byte rate", [](WavFixture& f) { f.byteRate = 1234; });
    add("LIST chunk", [](WavFixture& f) { f.chunkBefore = "LIST"; });

    TempDir dir;
    for (const Case& c : cases) {
        testing::internal::CaptureStderr();
        const ReadResult r = read(c.f.write(dir, "bad.wav"));
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(r.rc, 1) << c.what;
        EXPECT_TRUE(r.nullOnFailure) << c.what;
        EXPECT_NE(err.find("Unsupported WAV file " + dir.file("bad.wav")), std::string::npos) << c.what;
    }
}

TEST(ReadWav, MissingAndTruncatedFilesFail)
{
    TempDir dir;
    testing::internal::CaptureStderr();
    const ReadResult missing = read(dir.file("none.wav"));
    EXPECT_NE(testing::internal::GetCapturedStderr().find("Failed to open sample: "), std::string::npos);
    EXPECT_EQ(missing.rc, 1);
    EXPECT_TRUE(missing.nullOnFailure);

    const std::string path = dir.file("cut.wav");
    std::ofstream(path, std::ios::binary) << WavFixture().bytes().substr(0, 30);
    testing::internal::CaptureStderr();
    const ReadResult cut = read(path);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(cut.rc, 1);
    EXPECT_TRUE(cut.nullOnFailure);
}

TEST(ReadWav, ShortDataEndsInSilence)
{
    TempDir dir;
    WavFixture f;
    f.samples = { 1000, -1000, 2000, -2000 };
    f.declaredSamples = 10;
    const ReadResult r = read(f.write(dir, "short.wav"));
    ASSERT_EQ(r.rc, 0);
    ASSERT_EQ(r.samples.size(), 10u);
    EXPECT_FLOAT_EQ(r.samples[3], -2000.0f / 32767.0f);
    for (int i = 4; i < 10; ++i)
        EXPECT_EQ(r.samples[i], 0.0f) << i;
}

// A damaged header must not make a small file cost gigabytes: up to one
// second of missing data becomes silence, a larger claim reads what is there.
TEST(ReadWav, MissingDataBecomesSilenceForAtMostOneSecond)
{
    struct Case
    {
        std::uint32_t declared;
        std::size_t expected;
    };
    const Case cases[] = {
        { 4 + 88200, 4 + 88200 },  // one second short: zero-filled
        { 4 + 88202, 4 },          // a frame more: only the data present
        { 0x7FFFFFFF, 4 },         // the largest count the header can hold
    };
    TempDir dir;
    for (const Case& c : cases) {
        WavFixture f;
        f.declaredSamples = int(c.declared);
        testing::internal::CaptureStdout();
        const ReadResult r = read(f.write(dir, "claims.wav"));
        testing::internal::GetCapturedStdout();
        ASSERT_EQ(r.rc, 0) << c.declared;
        EXPECT_EQ(r.samples.size(), c.expected) << c.declared;
        EXPECT_FLOAT_EQ(r.samples[1], 1.0f) << c.declared;
    }
}

std::set<int> convertMany(float value)
{
    TriangularDither dither;
    std::vector<float> src(20000, value);
    std::vector<std::int16_t> dst(src.size());
    floatToInt16(dst.data(), src.data(), static_cast<int>(src.size()), dither);
    return { dst.begin(), dst.end() };
}

TEST(FloatToInt16, DitherStaysWithinOneStep)
{
    struct Case { float in; std::set<int> out; };
    const Case cases[] = {
        { 1.0f, { 32765, 32766 } }, { 0.0f, { 0 } }, { 2.0f, { 32767 } },
        { -2.0f, { -32768 } }, { -1.0f, { -32766, -32765 } }, { NAN, { 0 } },
        { INFINITY, { 32767 } }, { 1e30f, { 32767 } },
    };
    for (const Case& c : cases)
        EXPECT_EQ(convertMany(c.in), c.out) << c.in;
}

TEST(FloatToInt16, EachRunStartsFromTheSameSeeds)
{
    TriangularDither a, b;
    float values[64], again[64];
    for (int i = 0; i < 64; ++i) {
        values[i] = a.next();
        again[i] = b.next();
        EXPECT_GT(values[i], -1.0f);
        EXPECT_LT(values[i], 1.0f);
    }
    EXPECT_EQ(std::memcmp(values, again, sizeof(values)), 0);
    EXPECT_NE(values[0], values[1]);
}

TEST(WriteWav, RoundTripsThroughTheReader)
{
    TempDir dir;
    std::vector<float> in(2 * 1000);
    for (std::size_t i = 0; i < in.size(); ++i)
        in[i] = static_cast<float>(0.9 * std::sin(0.01 * i));
    ASSERT_EQ(writeWav(dir.file("out.wav"), in.data(), static_cast<int>(in.size())), 0);
    const ReadResult r = read(dir.file("out.wav"));
    ASSERT_EQ(r.rc, 0);
    ASSERT_EQ(r.samples.size(), in.size());
    for (std::size_t i = 0; i < in.size(); ++i)
        EXPECT_NEAR(r.samples[i], in[i], 3.0 / 32767.0) << i; // dither, truncation, 32766 scale

    testing::internal::CaptureStderr();
    EXPECT_EQ(writeWav(dir.file("no/such/dir.wav"), in.data(), 2), 1);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("Failed to open "), std::string::npos);
}

} // namespace
