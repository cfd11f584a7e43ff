#include "authoring/protoauthor.h"
#include "formats/protofile.h"
#include "proto/samplepack.pb.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace {

using Quavertone::SamplePack;

TEST(Authoring, BadDescriptionsAreRefusedWithTheReason)
{
    const char* bad[] = {
        R"({ "zone": [ { "start_kee": 1 } ] })",
        R"({ "zone": [ { "start_key": "low" } ] })",
        R"({ "name": )",
        "zone { start_key: 1 ",
        "zone { envelope: ENVELOPE_LFO }",
    };
    for (const char* text : bad) {
        SamplePack pack;
        std::string error;
        EXPECT_EQ(ProtoAuthor::parseDescription(text, pack, error), 1) << text;
        EXPECT_FALSE(error.empty()) << text;
    }
}

TEST(Authoring, WritingIntoAMissingFolderFails)
{
    TempDir dir;
    SamplePack pack;
    EXPECT_EQ(ProtoAuthor::write(dir.file("no/such/folder/samplepack.zsfb"), pack), 1);
}

// The program that authors content for res/: JSON in, the pack file out.
TEST(Authoring, ToolWritesAPackFromJson)
{
    const std::filesystem::path tool = std::filesystem::path(MOTIFO_BINARY_DIR) / "zubauthor";
    if (!std::filesystem::exists(tool))
        GTEST_SKIP() << "zubauthor is not built";
    TempDir dir;
    std::ofstream(dir.file("pack.json")) << R"({ "zone": [ { "start_key": 40, "root_key": 60, "filename": "s.wav" } ] })";
    const std::string out = dir.file("samplepack.zsfb");
    const std::string cmd = tool.string() + " samplepack " + dir.file("pack.json") + " " + out + " 2>/dev/null";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    SamplePack pack;
    ASSERT_EQ(ProtoFile::read(out, pack), 0);
    ASSERT_EQ(pack.zone_size(), 1);
    EXPECT_EQ(pack.zone(0).start_key(), 40);
    EXPECT_EQ(pack.zone(0).root_key(), 60);

    std::ofstream(dir.file("bad.json")) << "{ \"zone\": [ { \"rootkey\": 1 } ] }";
    const std::string badCmd = tool.string() + " samplepack " + dir.file("bad.json") + " " + dir.file("bad.zsfb") + " 2>/dev/null";
    EXPECT_NE(std::system(badCmd.c_str()), 0);
    EXPECT_FALSE(std::filesystem::exists(dir.file("bad.zsfb")));
}

} // namespace
