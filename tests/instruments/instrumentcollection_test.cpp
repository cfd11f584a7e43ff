#include "instruments/instrument.h"
#include "instruments/instrumentcollection.h"
#include "instruments/instrumentgroup.h"
#include "support/instrumentlibrary.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace {

std::vector<std::string> names(const InstrumentGroup& group)
{
    std::vector<std::string> out;
    for (const Instrument* instrument : group.instruments())
        out.push_back(instrument->name());
    return out;
}

class InstrumentCollectionTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        const std::string a = library.addGroup("00_Essentials", "#a\n#b\n");
        library.addInstrument(a, "zeta", "name: \"Zeta\" id: 3");
        library.addInstrument(a, "Alpha", "name: \"Alpha\" id: 1");
        library.addInstrument(a, "beta", "name: \"Beta\" id: 2");
        std::filesystem::create_directories(a + "/library");
        const std::string b = library.addGroup("10_more", "#1\n#2\n#3\n#4\n#5\n");
        first = library.addInstrument(b, "dupe1", "name: \"First\" id: 7");
        second = library.addInstrument(b, "dupe2", "name: \"Second\" id: 7");
        library.addInstrument(b, "input", "name: \"Not loadable\" id: 8 instrument_type: InputDevice");
        library.addGroup("05_logos_only", "#x\n");
        std::ofstream(library.instrumentsDir() + "/stray.txt") << "not a group";
        const std::string inputs = library.addGroup("50_inputdevices");
        std::filesystem::create_directories(inputs + "/microphone");
        std::ofstream(inputs + "/microphone/logo.png") << "png";
    }

    TempDir temp;
    InstrumentLibrary library { temp.path().string() };
    std::string first;
    std::string second;
};

TEST_F(InstrumentCollectionTest, ScanOrderGroupsAndIds)
{
    FakeAudioManager audio({ "USB Microphone", "Line In" });
    InstrumentCollection collection(&audio, library.resDir());
    const auto& groups = collection.groups();
    // The logos-only group and the stray file are not listed.
    ASSERT_EQ(groups.size(), 3u);
    EXPECT_EQ(groups[0]->name(), library.instrumentsDir() + "/00_Essentials");
    EXPECT_EQ(names(*groups[0]), (std::vector<std::string> { "Alpha", "Beta", "Zeta" }));
    // Both instruments with id 7 are listed; the one read last owns the id.
    // A descriptor of a kind that cannot be loaded is skipped.
    EXPECT_EQ(names(*groups[1]), (std::vector<std::string> { "First", "Second" }));
    EXPECT_EQ(collection.pathForId(7), second);
    EXPECT_EQ(collection.pathForId(8), "");
    EXPECT_EQ(collection.pathForId(1), library.instrumentsDir() + "/00_Essentials/Alpha");
    EXPECT_EQ(collection.pathForId(99), "");

    ASSERT_EQ(collection.inputGroup(), groups[2]);
    ASSERT_EQ(groups[2]->instruments().size(), 2u);
    EXPECT_EQ(groups[2]->instruments()[0]->id(), 500);
    EXPECT_EQ(groups[2]->instruments()[1]->id(), 501);
    EXPECT_EQ(groups[2]->instruments()[1]->name(), "Line In");
    EXPECT_EQ(collection.pathForId(500), "");

    // Entries only describe instruments: none holds a live-input buffer.
    for (const InstrumentGroup* group : groups)
        for (const Instrument* instrument : group->instruments())
            EXPECT_EQ(instrument->recordingBuffer(), nullptr) << instrument->name();
}

// The pictures, group files and folders beside the instruments are not
// instruments that failed to open: a start's log stays free of such lines.
TEST_F(InstrumentCollectionTest, FilesBesideTheInstrumentsAreNoFailures)
{
    testing::internal::CaptureStdout();
    InstrumentCollection collection(nullptr, library.resDir());
    const std::string log = testing::internal::GetCapturedStdout();
    EXPECT_EQ(log.find("Failed to open"), std::string::npos) << log;
    EXPECT_EQ(names(*collection.groups()[0]), (std::vector<std::string> { "Alpha", "Beta", "Zeta" }));
}

TEST_F(InstrumentCollectionTest, GroupColoursAndLogo)
{
    InstrumentCollection collection(nullptr, library.resDir());
    const auto& groups = collection.groups();
    ASSERT_EQ(groups.size(), 2u); // no input devices: the input group is not listed
    EXPECT_EQ(collection.inputGroup(), nullptr);
    const InstrumentGroup& two = *groups[0];
    EXPECT_EQ(two.colourHeader(), "#a");
    EXPECT_EQ(two.colourHeaderBorder(), "#b");
    EXPECT_EQ(two.colourInstrument(), "");
    EXPECT_EQ(two.colourInstrumentBorder(), "");
    EXPECT_EQ(two.logo(), "../../" + library.instrumentsDir() + "/00_Essentials/logo.png");
    const InstrumentGroup& five = *groups[1];
    EXPECT_EQ(five.colourInstrumentBorder(), "#4");
}

TEST_F(InstrumentCollectionTest, Json)
{
    FakeAudioManager audio({ "Line In" });
    InstrumentCollection collection(&audio, library.resDir());
    Json::Value root;
    collection.toJson(root);
    ASSERT_EQ(root.getMemberNames(), std::vector<std::string> { "instrument_collection" });
    const Json::Value& groups = root["instrument_collection"]["instrument_groups"];
    ASSERT_TRUE(groups.isArray());
    ASSERT_EQ(groups.size(), 3u);
    const Json::Value& group = groups[0];
    EXPECT_EQ(group["name"].asString(), library.instrumentsDir() + "/00_Essentials");
    EXPECT_EQ(group["logo"].asString(), "../../" + library.instrumentsDir() + "/00_Essentials/logo.png");
    EXPECT_EQ(group["colour_header"].asString(), "#a");
    EXPECT_EQ(group["colour_instrument_border"].asString(), "");
    ASSERT_EQ(group["instruments"].size(), 3u);
    EXPECT_EQ(group["instruments"][0]["name"].asString(), "Alpha");
    EXPECT_EQ(group["instruments"][0]["id"].asInt(), 1);
    EXPECT_EQ(group["instruments"][0]["instrument_type"].asInt(), 0);
    EXPECT_EQ(groups[2]["instruments"][0]["id"].asInt(), 500);
    EXPECT_EQ(groups[2]["instruments"][0]["instrument_type"].asInt(), 2);
}

TEST(InstrumentCollectionEmpty, MissingLibraryGivesAnEmptyCatalogue)
{
    TempDir temp;
    InstrumentCollection collection(nullptr, temp.file("nowhere"));
    EXPECT_TRUE(collection.groups().empty());
    Json::Value root;
    collection.toJson(root);
    EXPECT_TRUE(root["instrument_collection"]["instrument_groups"].isArray());
    EXPECT_EQ(root["instrument_collection"]["instrument_groups"].size(), 0u);
}

} // namespace
