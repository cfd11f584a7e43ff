#include "formats/protofile.h"
#include "instruments/instrument.h"
#include "instruments/instrumentcollection.h"
#include "instruments/instrumentgroup.h"
#include "proto/samplepack.pb.h"
#include "signalmeasure.h"
#include "support/instrumentlibrary.h"
#include "synth/kelppresetbank.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>

namespace {

namespace fs = std::filesystem;

// The library the build generates beside the program (the content target).
class ContentTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (!fs::is_directory(fs::path(MOTIFO_BINARY_DIR) / "res/instruments"))
            GTEST_SKIP() << "no generated content: build the content target";
        m_previousDir = fs::current_path();
        fs::current_path(MOTIFO_BINARY_DIR);
        collection = std::make_unique<InstrumentCollection>(&audio);
    }
    void TearDown() override
    {
        collection.reset();
        if (!m_previousDir.empty())
            fs::current_path(m_previousDir);
    }
    const InstrumentGroup* group(const std::string& name) const
    {
        for (const InstrumentGroup* g : collection->groups())
            if (g->name() == "res/instruments/" + name)
                return g;
        return nullptr;
    }

    FakeAudioManager audio { { "Microphone", "Soundflower", "Line" } };
    std::unique_ptr<InstrumentCollection> collection;

private:
    fs::path m_previousDir;
};

// A logo path as the page asks for it: "../../" + the path below the
// program (live inputs have one more '/').
bool isPng(const std::string& logo)
{
    const std::string path = logo.substr(logo.find_first_not_of("./"));
    std::ifstream in(path, std::ios::binary);
    char magic[8] = {};
    in.read(magic, 8);
    return in && std::string(magic + 1, 3) == "PNG";
}

TEST_F(ContentTest, GroupsLogosAndColours)
{
    for (const char* name : { "00_essentials", "10_synth", "20_soundfont", "50_inputdevices" }) {
        const InstrumentGroup* g = group(name);
        ASSERT_NE(g, nullptr) << name;
        EXPECT_TRUE(isPng(g->logo())) << name;
        EXPECT_EQ(g->colourHeader().front(), '#') << name;
        EXPECT_EQ(g->colourInstrumentBorder().front(), '#') << name;
        for (const Instrument* instrument : g->instruments())
            EXPECT_TRUE(isPng(instrument->logo())) << instrument->logo();
    }
    EXPECT_EQ(collection->inputGroup(), group("50_inputdevices"));
}

TEST_F(ContentTest, SynthInstrumentsNameDistinctPresets)
{
    const InstrumentGroup* synth = group("10_synth");
    ASSERT_NE(synth, nullptr);
    EXPECT_GE(synth->instruments().size(), 8u);
    const std::vector<SynthProgram> bank = KelpPresetBank::build();
    std::set<int> programs;
    for (const Instrument* instrument : synth->instruments()) {
        const int program = instrument->id() & 255;
        ASSERT_LT(program, static_cast<int>(bank.size())) << instrument->name();
        EXPECT_EQ(instrument->name(), bank[program].name());
        EXPECT_EQ(instrument->instrumentType(), Instrument::Synth);
        programs.insert(program);
    }
    EXPECT_EQ(programs.size(), synth->instruments().size());
}

TEST_F(ContentTest, SoundFontGroupSharesAGeneralMidiFont)
{
    const InstrumentGroup* soundFont = group("20_soundfont");
    ASSERT_NE(soundFont, nullptr);
    EXPECT_GE(soundFont->instruments().size(), 8u);
    EXPECT_TRUE(fs::is_regular_file("res/instruments/20_soundfont/library/module.dat"));
    for (const Instrument* instrument : soundFont->instruments()) {
        EXPECT_GT(instrument->id(), 4000);
        EXPECT_LT(instrument->id(), 4128);
        EXPECT_EQ(instrument->instrumentType(), Instrument::SoundFont);
    }
}

TEST_F(ContentTest, SampledInstrumentsPlayEveryZone)
{
    const InstrumentGroup* essentials = group("00_essentials");
    ASSERT_NE(essentials, nullptr);
    ASSERT_GE(essentials->instruments().size(), 5u);
    EXPECT_EQ(collection->pathForId(1), "res/instruments/00_essentials/classic");
    int drumKits = 0;
    for (const Instrument* entry : essentials->instruments()) {
        ASSERT_EQ(entry->instrumentType(), Instrument::Sampled) << entry->name();
        drumKits += entry->controlType() == Instrument::DrumPads;
        const std::string dir = collection->pathForId(entry->id());
        Quavertone::SamplePack pack;
        ASSERT_EQ(ProtoFile::read(dir + "/samplepack/samplepack.zsfb", pack), 0) << dir;
        Instrument instrument;
        ASSERT_EQ(instrument.loadFromDirectory(dir), 0);
        instrument.waitForLoad();
        ASSERT_TRUE(instrument.isReady()) << dir;
        for (const auto& zone : pack.zone()) {
            instrument.noteOn(zone.root_key());
            std::vector<float> out(2 * 4096, 0.0f);
            for (int i = 0; i < 16; ++i)
                instrument.process(out.data() + 512 * i, 256);
            instrument.noteOff(zone.root_key());
            EXPECT_GT(signalmeasure::rms(out, 0, 4096), 0.005) << dir << " " << zone.filename();
        }
    }
    EXPECT_EQ(drumKits, 1);
}

} // namespace
