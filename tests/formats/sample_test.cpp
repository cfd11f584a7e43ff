#include "formats/sample.h"
#include "formats/wavewriter.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <utility>
#include <vector>

namespace {

constexpr int kFrames = 44100;

float tone(int frame, double hz) { return static_cast<float>(0.5 * std::sin(2.0 * M_PI * hz * frame / 44100.0)); }

// Left: 440 Hz at half scale; right: silence.
std::vector<float> stereoTone()
{
    std::vector<float> s(2 * kFrames, 0.0f);
    for (int i = 0; i < kFrames; ++i)
        s[2 * i] = tone(i, 440.0);
    return s;
}

double rms(const Sample& s, int channel)
{
    double sum = 0.0;
    const int frames = s.numSamples() / 2;
    for (int i = 0; i < frames; ++i)
        sum += s.data()[2 * i + channel] * s.data()[2 * i + channel];
    return std::sqrt(sum / std::max(frames, 1));
}

class SampleFiles : public testing::Test
{
protected:
    std::string writeStereoWav(const std::string& name)
    {
        const std::vector<float> s = stereoTone();
        EXPECT_EQ(writeWav(m_dir.file(name), s.data(), static_cast<int>(s.size())), 0);
        return m_dir.file(name);
    }

    std::string encodeStereoOgg(const std::string& options = "")
    {
        const std::string ogg = m_dir.file("stereo.ogg");
        run("oggenc -Q " + options + " -o '" + ogg + "' '" + writeStereoWav("stereo.wav") + "'");
        return ogg;
    }

    std::string encodeMonoOgg()
    {
        const std::string raw = m_dir.file("mono.raw"), ogg = m_dir.file("mono.ogg");
        std::vector<std::int16_t> pcm(kFrames);
        for (int i = 0; i < kFrames; ++i)
            pcm[i] = static_cast<std::int16_t>(tone(i, 440.0) * 32767.0f);
        std::ofstream(raw, std::ios::binary).write(reinterpret_cast<const char*>(pcm.data()), 2 * kFrames);
        run("oggenc -Q -r -B 16 -C 1 -R 44100 -o '" + ogg + "' '" + raw + "'");
        return ogg;
    }

    // Offset of the comment header's vendor length: the packet starts the
    // second page, after its type byte and "vorbis".
    static std::size_t vendorLengthOffset(const std::string& ogg)
    {
        const std::size_t page = ogg.find("OggS", 4);
        const std::size_t segments = static_cast<unsigned char>(ogg[page + 26]);
        return page + 27 + segments + 7;
    }
    static std::uint32_t le32At(const std::string& s, std::size_t at)
    {
        std::uint32_t v = 0;
        for (int i = 3; i >= 0; --i)
            v = v << 8 | static_cast<unsigned char>(s[at + i]);
        return v;
    }
    static void putLe32(std::string& s, std::size_t at, std::uint32_t v)
    {
        for (int i = 0; i < 4; ++i)
            s[at + i] = char(v >> (8 * i));
    }
    std::string readFile(const std::string& path)
    {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    static void run(const std::string& command) { ASSERT_EQ(std::system(command.c_str()), 0) << command; }

    TempDir m_dir;
};

TEST_F(SampleFiles, WavDecodesThroughTheReader)
{
    testing::internal::CaptureStdout();
    const Sample s(writeStereoWav("tone.wav"));
    EXPECT_NE(testing::internal::GetCapturedStdout().find("Loaded sample " + s.path() + " with length 88200"),
              std::string::npos);
    ASSERT_EQ(s.numSamples(), 2 * kFrames);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(s.data()) % 16, 0u);
    EXPECT_NEAR(s.data()[2 * 25], tone(25, 440.0), 1e-4);
    EXPECT_EQ(s.data()[2 * 25 + 1], 0.0f);
}

TEST_F(SampleFiles, StereoOggKeepsItsChannels)
{
    const Sample s(encodeStereoOgg());
    ASSERT_EQ(s.numSamples(), 2 * kFrames);
    EXPECT_NEAR(rms(s, 0), 0.5 / std::sqrt(2.0), 0.02);
    EXPECT_LT(rms(s, 1), 0.01);
}

// The decoder works in a block of memory of a bounded size: the setup of
// every encoder quality must fit it.
TEST_F(SampleFiles, OggOfEveryQualityDecodes)
{
    for (const char* quality : { "-q -1", "-q 5", "-q 10" }) {
        const Sample s(encodeStereoOgg(quality));
        ASSERT_EQ(s.numSamples(), 2 * kFrames) << quality;
        EXPECT_NEAR(rms(s, 0), 0.5 / std::sqrt(2.0), 0.02) << quality;
    }
}

TEST_F(SampleFiles, MonoOggIsHeardOnBothChannels)
{
    const Sample s(encodeMonoOgg());
    ASSERT_EQ(s.numSamples(), 2 * kFrames);
    EXPECT_NEAR(rms(s, 0), 0.5 / std::sqrt(2.0), 0.02);
    for (int i = 0; i < kFrames; ++i)
        ASSERT_EQ(s.data()[2 * i], s.data()[2 * i + 1]) << i;
}

TEST_F(SampleFiles, UnknownOrUnreadableFilesLeaveAnEmptySample)
{
    const std::string ogg = encodeStereoOgg();
    const std::string wav = writeStereoWav("tone.wav");
    std::ofstream(m_dir.file("text.ogg")) << "not a vorbis stream";
    const std::string renamed[] = { "tone.Ogg", "tone.WAV", "tone" };
    std::filesystem::copy_file(ogg, m_dir.file(renamed[0]));
    std::filesystem::copy_file(wav, m_dir.file(renamed[1]));
    std::filesystem::copy_file(wav, m_dir.file(renamed[2]));

    const std::string paths[] = { m_dir.file(renamed[0]), m_dir.file(renamed[1]), m_dir.file(renamed[2]),
                                  m_dir.file("text.ogg"), m_dir.file("missing.wav"), m_dir.file("missing.ogg") };
    for (const std::string& path : paths) {
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        const Sample s(path);
        const std::string out = testing::internal::GetCapturedStdout();
        testing::internal::GetCapturedStderr();
        EXPECT_EQ(s.numSamples(), 0) << path;
        EXPECT_EQ(s.data(), nullptr) << path;
        EXPECT_NE(out.find("Failed to load " + path), std::string::npos) << path;
    }
}

} // namespace

// The decoder trusts the lengths in the comment header; lengths that do not
// fit their packet once overran its buffers. Such files load as empty samples.
TEST_F(SampleFiles, OggCommentLengthsBeyondTheirPacketAreRefused)
{
    const std::string good = readFile(encodeStereoOgg("-c TITLE=Seed"));
    const std::size_t vendorAt = vendorLengthOffset(good);
    const std::size_t countAt = vendorAt + 4 + le32At(good, vendorAt);
    ASSERT_EQ(le32At(good, countAt), 1u);
    const std::pair<std::size_t, std::uint32_t> damages[] = {
        { vendorAt, 0x7FFFFFFF },   // vendor longer than the packet
        { vendorAt, 0xFFFFFFFF },
        { countAt, 0x20000001 },    // eight bytes per entry wrap to a tiny table
        { countAt, 0x40000000 },
        { countAt + 4, 0x7FFFFFFF }, // the first comment's length
    };
    for (const auto& [at, value] : damages) {
        std::string bad = good;
        putLe32(bad, at, value);
        const std::string path = m_dir.file("damaged.ogg");
        std::ofstream(path, std::ios::binary) << bad;
        testing::internal::CaptureStdout();
        const Sample s(path);
        const std::string out = testing::internal::GetCapturedStdout();
        EXPECT_EQ(s.numSamples(), 0) << at << " " << value;
        EXPECT_NE(out.find("Damaged Ogg Vorbis header in " + path), std::string::npos) << at;
    }
}

// Cut inside the comment header the file is refused; cut inside the audio it
// gives the audio before the cut.
TEST_F(SampleFiles, TruncatedOggKeepsTheAudioBeforeTheCut)
{
    const std::string good = readFile(encodeStereoOgg());
    const std::string path = m_dir.file("cut.ogg");
    std::ofstream(path, std::ios::binary) << good.substr(0, vendorLengthOffset(good) + 2);
    testing::internal::CaptureStdout();
    EXPECT_EQ(Sample(path).numSamples(), 0);
    // The audio pages follow the comment and setup pages.
    const std::size_t audio = good.find("OggS", good.find("OggS", 4) + 4);
    std::ofstream(path, std::ios::binary | std::ios::trunc) << good.substr(0, audio + (good.size() - audio) / 2);
    const Sample half(path);
    testing::internal::GetCapturedStdout();
    EXPECT_GT(half.numSamples(), kFrames / 4);
    EXPECT_LT(half.numSamples(), 2 * kFrames);
}

// The length in the last page is not trusted for the allocation: a file that
// claims two billion frames holds, and gives, its one second.
TEST_F(SampleFiles, OggLengthClaimIsNotTrusted)
{
    std::string ogg = readFile(encodeStereoOgg());
    const std::size_t lastPage = ogg.rfind("OggS");
    putLe32(ogg, lastPage + 6, 0x7FFFFFF0);
    putLe32(ogg, lastPage + 10, 0);
    const std::string path = m_dir.file("long.ogg");
    std::ofstream(path, std::ios::binary) << ogg;
    const Sample s(path);
    EXPECT_GE(s.numSamples(), 2 * kFrames);
    EXPECT_LE(s.numSamples(), 2 * (kFrames + 4096));
}
