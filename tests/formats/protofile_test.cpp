#include "authoring/protoauthor.h"
#include "formats/protofile.h"
#include "proto/samplepack.pb.h"
#include "proto/zubinstrument.pb.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <fstream>

namespace {

using Quavertone::SamplePack;
using Quavertone::ZubInstrument;

template <class Message>
Message fromDescription(const std::string& text)
{
    Message msg;
    std::string error;
    EXPECT_EQ(ProtoAuthor::parseDescription(text, msg, error), 0) << error;
    return msg;
}

// Writes a message and reads the file back into a fresh one.
template <class Message>
Message roundTrip(const Message& in)
{
    TempDir dir;
    const std::string path = dir.file("message.bin");
    EXPECT_EQ(ProtoAuthor::write(path, in), 0);
    Message out;
    EXPECT_EQ(ProtoFile::read(path, out), 0);
    return out;
}

void writeBytes(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

TEST(InstrumentDescriptor, NameAndIdOnlyIsAKeyboardSampledInstrument)
{
    const auto in = fromDescription<ZubInstrument>(R"({ "name": "Classic", "id": 12 })");
    const ZubInstrument d = roundTrip(in);
    EXPECT_EQ(d.name(), "Classic");
    EXPECT_EQ(d.id(), 12);
    EXPECT_EQ(d.instrument_type(), ZubInstrument::Sampled);
    EXPECT_EQ(d.control_type(), ZubInstrument::Keyboard);
    EXPECT_FLOAT_EQ(d.gain(), 1.0f);
    EXPECT_FALSE(d.has_artwork());
    EXPECT_EQ(d.artwork().logo(), "logo.png");
    EXPECT_EQ(d.artwork().icon128(), "icon128.png");
}

TEST(InstrumentDescriptor, EveryFieldSurvivesTheFile)
{
    const auto in = fromDescription<ZubInstrument>(R"(
        name: "Pads" description: "Drums" id: 4005 instrument_type: SoundFont
        control_type: DrumPads custom_control_html: "pads.html" gain: 0.5
        artwork { icon128: "i.png" logo: "l.png" })");
    const ZubInstrument d = roundTrip(in);
    EXPECT_EQ(d.SerializeAsString(), in.SerializeAsString());
    EXPECT_EQ(d.instrument_type(), ZubInstrument::SoundFont);
    EXPECT_EQ(d.control_type(), ZubInstrument::DrumPads);
    EXPECT_EQ(d.artwork().logo(), "l.png");
}

// Field numbers and wire types as other writers produce them.
TEST(InstrumentDescriptor, WireLayoutFollowsTheFieldNumbers)
{
    ZubInstrument d;
    d.set_id(3);                               // field 3, varint
    d.set_instrument_type(ZubInstrument::Synth); // field 4, varint
    d.set_gain(1.0f);                          // field 8, fixed32
    EXPECT_EQ(d.SerializeAsString(), std::string("\x18\x03\x20\x01\x45\x00\x00\x80\x3f", 9));
}

TEST(SamplePackFormat, AbsentZoneFieldsTakeTheSchemaDefaults)
{
    const SamplePack pack = roundTrip(fromDescription<SamplePack>(R"({ "zone": [ {} ] })"));
    ASSERT_EQ(pack.zone_size(), 1);
    const auto& z = pack.zone(0);
    EXPECT_EQ(z.start_key(), 0);
    EXPECT_EQ(z.end_key(), 127);
    EXPECT_EQ(z.start_vel(), 0);
    EXPECT_EQ(z.end_vel(), 127);
    EXPECT_EQ(z.root_key(), 127); // not 60
    EXPECT_EQ(z.envelope(), SamplePack::ADSR);
    EXPECT_FALSE(z.has_adsr_params());
    EXPECT_FLOAT_EQ(z.adsr_params().attack_time(), 1.0f);
    EXPECT_FLOAT_EQ(z.adsr_params().decay_time(), 2.0f);
    EXPECT_FLOAT_EQ(z.adsr_params().sustain_level(), 1.0f);
    EXPECT_FLOAT_EQ(z.adsr_params().release_time(), 1.0f);
    EXPECT_EQ(z.filename(), "");
}

TEST(SamplePackFormat, ZonesKeepFileOrder)
{
    const SamplePack pack = roundTrip(fromDescription<SamplePack>(R"({ "name": "p", "zone": [
        { "start_key": 0, "end_key": 59, "root_key": 48, "filename": "low.wav",
          "adsr_params": { "attack_time": 5, "decay_time": 1, "sustain_level": 0.5, "release_time": 300 } },
        { "start_key": 60, "root_key": 72, "filename": "high.ogg" } ] })"));
    ASSERT_EQ(pack.zone_size(), 2);
    EXPECT_EQ(pack.zone(0).filename(), "low.wav");
    EXPECT_FLOAT_EQ(pack.zone(0).adsr_params().sustain_level(), 0.5f);
    EXPECT_FLOAT_EQ(pack.zone(0).adsr_params().release_time(), 300.0f);
    EXPECT_EQ(pack.zone(1).filename(), "high.ogg");
    EXPECT_EQ(pack.zone(1).end_key(), 127);
}

TEST(SamplePackFormat, EmptyFileHasNoZones)
{
    TempDir dir;
    writeBytes(dir.file("samplepack.zsfb"), "");
    SamplePack pack;
    EXPECT_EQ(ProtoFile::read(dir.file("samplepack.zsfb"), pack), 0);
    EXPECT_EQ(pack.zone_size(), 0);
}

TEST(SamplePackFormat, MissingFileIsReported)
{
    TempDir dir;
    SamplePack pack;
    EXPECT_EQ(ProtoFile::read(dir.file("nothing.zsfb"), pack), 1);
}

TEST(SamplePackFormat, DamagedFileKeepsTheFieldsDecodedBeforeTheFault)
{
    SamplePack whole = fromDescription<SamplePack>(R"({ "name": "pack", "zone": [
        { "start_key": 10, "end_key": 20, "root_key": 15, "filename": "a.wav" },
        { "start_key": 30, "filename": "b.wav" } ] })");
    const std::string bytes = whole.SerializeAsString();
    const std::size_t secondZone = bytes.size() - whole.zone(1).ByteSizeLong() - 2;
    struct Case
    {
        const char* what;
        std::string bytes;
        int zonesAtLeast;
    };
    const Case cases[] = {
        { "cut inside the last zone", bytes.substr(0, bytes.size() - 3), 1 },
        { "cut before the last zone", bytes.substr(0, secondZone), 1 },
        { "garbage after a whole pack", bytes + "\xff\xff\xff\xff\x0f\x07", 2 },
        { "garbage only", std::string("\x13\xff\x8a\x01\x99\x42\x00\x01", 8), 0 },
    };
    for (const Case& c : cases) {
        TempDir dir;
        writeBytes(dir.file("samplepack.zsfb"), c.bytes);
        SamplePack pack;
        EXPECT_EQ(ProtoFile::read(dir.file("samplepack.zsfb"), pack), 0) << c.what;
        EXPECT_GE(pack.zone_size(), c.zonesAtLeast) << c.what;
        if (c.zonesAtLeast > 0) {
            EXPECT_EQ(pack.name(), "pack") << c.what;
            EXPECT_EQ(pack.zone(0).filename(), "a.wav") << c.what;
            EXPECT_EQ(pack.zone(0).root_key(), 15) << c.what;
        }
    }
}

} // namespace
