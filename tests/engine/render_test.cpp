#include "core/alignedfloats.h"
#include "core/base64.h"
#include "engine/renderer.h"
#include "engine/transport.h"
#include "formats/wavereader.h"
#include "support/enginetest.h"
#include "support/tempdir.h"

#include "enginefakes.h"

#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <gtest/gtest.h>

namespace {

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::uint32_t le32(const std::string& bytes, std::size_t at)
{
    std::uint32_t v = 0;
    std::memcpy(&v, bytes.data() + at, 4);
    return v;
}

std::string decodeBase64(const std::string& text)
{
    static const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    std::uint32_t bits = 0;
    int count = 0;
    for (char c : text) {
        if (c == '=')
            break;
        const std::size_t v = alphabet.find(c);
        EXPECT_NE(v, std::string::npos) << "not Base64: " << c;
        bits = (bits << 6) | std::uint32_t(v);
        count += 6;
        if (count >= 8) {
            count -= 8;
            out += char((bits >> count) & 0xFF);
        }
    }
    return out;
}

std::vector<float> samplesOf(const std::string& path)
{
    float* samples = nullptr;
    int n = 0;
    EXPECT_EQ(readWav(path, samples, n), 0) << path;
    std::vector<float> out(samples, samples + n);
    freeAlignedFloats(samples);
    return out;
}

// One 16-bit step plus the dither's own step.
constexpr float kDitherTolerance = 2.5f / 32766.0f;

TEST(Base64Test, EncodesTheStandardAlphabetWithFill)
{
    struct Case { const char* in; const char* out; };
    const Case cases[] = { { "", "" }, { "f", "Zg==" }, { "fo", "Zm8=" }, { "foo", "Zm9v" }, { "foob", "Zm9vYg==" },
        { "\xfb\xff\xbf", "+/+/" } };
    for (const Case& c : cases)
        EXPECT_EQ(Base64::encode(c.in, std::strlen(c.in)), c.out) << c.in;
}

class RenderTest : public EngineTest
{
protected:
    void SetUp() override
    {
        EngineTest::SetUp();
        engine.setAudioInterface(&audio);
        engine.setJsBridge(&bridge);
    }
    // Renders the active idea to a file; the file's bytes.
    std::string renderFile(const std::string& name, int expectedResult = 0)
    {
        const std::string path = dir.file(name);
        std::FILE* f = std::fopen(path.c_str(), "wb");
        EXPECT_EQ(engine.renderToFile(f), expectedResult);
        std::fclose(f);
        return readFile(path);
    }
    CountingAudio audio;
    RecordingBridge bridge;
    TempDir dir;
};

TEST_F(RenderTest, FileLengthIsTheLongestLoopInWholeAndPartBlocks)
{
    struct Case { int64 frames; };
    for (const Case c : { Case { 1000 }, Case { 1024 }, Case { 512 }, Case { 1 } }) {
        engine.clearProject();
        addIdea(engine, "Idea", { makeLoop(engine, c.frames, constant(0.5f)) });
        const std::string bytes = renderFile("len.wav");
        ASSERT_EQ(bytes.size(), 44 + 4 * std::size_t(c.frames)) << c.frames;
        EXPECT_EQ(bytes.substr(0, 4), "RIFF");
        EXPECT_EQ(le32(bytes, 40), std::uint32_t(4 * c.frames)) << "header and data agree";
    }
}

TEST_F(RenderTest, ShorterLoopsRepeatAtHalfGainAndRendersRepeatExactly)
{
    // 2 beats and 4 beats: the short loop plays twice in the render.
    auto ramp = [](int64 k, int c) { return float(k % 1000) / 2000.0f * (c ? -1.0f : 1.0f); };
    addIdea(engine, "Idea", { makeLoop(engine, 1000, ramp), makeLoop(engine, 2000, constant(0.2f)) });
    Transport::instance().setPosition(777);
    engine.process(std::vector<float>(2 * 300).data(), 300); // loops somewhere in the middle
    const std::string first = renderFile("a.wav");
    const std::string second = renderFile("b.wav");
    EXPECT_EQ(first, second) << "each render starts the idea at 0";

    const std::vector<float> s = samplesOf(dir.file("a.wav"));
    ASSERT_EQ(s.size(), 4000u);
    for (int64 k = 0; k < 2000; ++k)
        for (int c = 0; c < 2; ++c)
            ASSERT_NEAR(s[2 * k + c], 0.5f * (ramp(k, c) + 0.2f), kDitherTolerance) << k << " " << c;
}

// Each idea once, in order, for its longest loop, with the mutes it keeps
// for itself although clones share the loops; ideas without loops add nothing.
TEST_F(RenderTest, SongRenderPlaysEveryIdeaInOrderWithItsOwnMutes)
{
    const std::shared_ptr<Loop> low = makeLoop(engine, 1000, constant(0.2f));
    const std::shared_ptr<Loop> high = makeLoop(engine, 1000, constant(0.4f));
    Idea* verse = addIdea(engine, "Verse", { low, high });
    send("cloneIdea:" + std::to_string(verse->id()));
    const int32 chorus = engine.ideaCollection()->activeIdeaId();
    send("{ \"idea_collection\" : { \"ideas\" : [ { \"id\" : " + std::to_string(chorus) + ", \"loops\" : [ { \"id\" : "
         + std::to_string(high->id()) + ", \"mute\" : true } ] } ] } }");
    addIdea(engine, "Empty", {});
    engine.ideaCollection()->setActiveIdea(verse->id());
    engine.process(std::vector<float>(2 * 300).data(), 300);

    const std::string path = dir.file("song.wav");
    std::FILE* f = std::fopen(path.c_str(), "wb");
    std::vector<int64> progress;
    EXPECT_EQ(engine.renderSongToFile(f, [&](int64 done, int64 total) { progress.push_back(total - done); }), 0);
    std::fclose(f);
    const std::vector<float> s = samplesOf(path);
    ASSERT_EQ(s.size(), 2u * 2000);
    for (int64 k = 0; k < 2000; ++k)
        ASSERT_NEAR(s[2 * k], k < 1000 ? 0.3f : 0.1f, kDitherTolerance) << k;
    EXPECT_EQ(progress.back(), 0);
    EXPECT_FALSE(high->isMuted()) << "the playing idea keeps its own pattern";
    EXPECT_EQ(audio.stops, 1);
    EXPECT_EQ(audio.starts, 1);
}

TEST_F(RenderTest, StreamStopsAndTheTransportComesBack)
{
    addIdea(engine, "Idea", { makeLoop(engine, 3000, constant(0.1f)) });
    Transport::instance().setPosition(123456);
    renderFile("t.wav");
    EXPECT_EQ(audio.stops, 1);
    EXPECT_EQ(audio.starts, 1);
    EXPECT_EQ(Transport::instance().position(), 123456);
    EXPECT_EQ(engine.renderToJs(), 0);
    EXPECT_EQ(audio.stops, 2);
    EXPECT_EQ(audio.starts, 2);
    EXPECT_EQ(Transport::instance().position(), 123456);
}

TEST_F(RenderTest, NothingToRenderWritesNothingAndKeepsTheStream)
{
    testing::internal::CaptureStderr();
    EXPECT_EQ(renderFile("none.wav", 1), "");
    EXPECT_EQ(engine.renderToJs(), 1);
    addIdea(engine, "Empty", {});
    EXPECT_EQ(renderFile("noloop.wav", 1), "");
    EXPECT_EQ(engine.renderToJs(), 1);
    engine.ideaCollection()->setActiveIdea(0);
    EXPECT_EQ(renderFile("inactive.wav", 1), "");
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("Error: No idea to render. Make an first idea!"), std::string::npos) << err;
    EXPECT_NE(err.find("Error: No loop to render. Make a loop in the first idea!"), std::string::npos);
    EXPECT_NE(err.find("Error: No idea to render. Make an idea and activate it first!"), std::string::npos);
    EXPECT_EQ(audio.stops, 0);
    EXPECT_TRUE(bridge.messages().empty());
}

TEST_F(RenderTest, PageRenderIsTheWholeMixOfTheActiveIdeaForTheFirstIdeasLength)
{
    // The first idea is silent and sets the length; the second plays.
    addIdea(engine, "First", { makeLoop(engine, 1500, constant(0.0f)) });
    Idea* second = addIdea(engine, "Second",
        { makeLoop(engine, 700, [](int64 k, int) { return 0.3f * std::sin(float(k) * 0.05f); }) });
    engine.ideaCollection()->setActiveIdea(second->id());

    EXPECT_EQ(send("render"), "");
    const std::vector<std::string> messages = bridge.messages();
    ASSERT_EQ(messages.size(), 1 + 3 + 1u) << "header, three blocks, end";
    const std::string prefix = "{ \"wave\" : { \"data\" : \"";
    std::string wav;
    for (std::size_t i = 0; i + 1 < messages.size(); ++i) {
        const std::string& m = messages[i];
        ASSERT_EQ(m.compare(0, prefix.size(), prefix), 0) << m;
        const std::string chunk = decodeBase64(m.substr(prefix.size(), m.size() - prefix.size() - 4));
        EXPECT_EQ(chunk.size(), i == 0 ? 44u : i < 3 ? 2048u : 4u * (1500 - 1024)) << i;
        wav += chunk;
    }
    EXPECT_EQ(messages.back(), "{ \"wave\" : { \"end\" : true } }");
    ASSERT_EQ(wav.size(), 44 + 4 * 1500u);
    EXPECT_EQ(le32(wav, 40), 4 * 1500u);

    std::ofstream(dir.file("page.wav"), std::ios::binary) << wav;
    const std::vector<float> s = samplesOf(dir.file("page.wav"));
    double energy = 0.0;
    for (float v : s)
        energy += double(v) * v;
    EXPECT_GT(std::sqrt(energy / double(s.size())), 0.05) << "the active second idea is heard";
}

// The render starts at the start of the song from its very first block, not
// from wherever the loops were playing when it was asked for: a loop silent
// for its first 600 frames renders silent there, though it was playing its
// loud part.
TEST_F(RenderTest, PageRenderStartsAtTheSongStartFromItsFirstBlock)
{
    addIdea(engine, "Song",
        { makeLoop(engine, 1500, [](int64 k, int) { return k < 600 ? 0.0f : 0.5f * std::sin(0.05f * float(k)); }) });
    std::vector<float> out(2 * 256);
    for (int i = 0; i < 3; ++i)
        engine.process(out.data(), 256); // the loop is at frame 768, in its loud part
    bridge.clear();
    ASSERT_EQ(engine.renderToJs(), 0);
    const std::string prefix = "{ \"wave\" : { \"data\" : \"";
    std::string wav;
    for (const std::string& m : bridge.messages())
        if (m.compare(0, prefix.size(), prefix) == 0)
            wav += decodeBase64(m.substr(prefix.size(), m.size() - prefix.size() - 4));
    std::ofstream(dir.file("page.wav"), std::ios::binary) << wav;
    const std::vector<float> s = samplesOf(dir.file("page.wav"));
    ASSERT_EQ(s.size(), 2 * 1500u);
    // The master bus still rings with the last live cycles for a few hundred frames.
    for (int i = 2 * 400; i < 2 * 512; ++i)
        ASSERT_LT(std::fabs(s[std::size_t(i)]), 2e-3f) << "frame " << i / 2;
}

TEST_F(RenderTest, ABlockConvertsWithGainAndFreshDither)
{
    struct Source : PlaybackEngine {
        void process(float* buffer, int n) override
        {
            for (int i = 0; i < 2 * n; ++i)
                buffer[i] += 0.25f;
        }
    } source;
    std::vector<float> floats(2 * 16, 0.0f);
    std::vector<std::int16_t> a(32), b(32);
    Renderer::renderBlock(&source, floats.data(), 16, a.data(), 2.0f);
    std::fill(floats.begin(), floats.end(), 0.0f);
    Renderer::renderBlock(&source, floats.data(), 16, b.data(), 2.0f);
    EXPECT_EQ(a, b) << "each block starts its dither afresh";
    for (std::int16_t v : a)
        EXPECT_NEAR(v, 16383, 2);
}

} // namespace
