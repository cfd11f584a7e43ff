#include "support/instrumentlibrary.h"

#include "authoring/protoauthor.h"
#include "formats/wavewriter.h"
#include "proto/samplepack.pb.h"
#include "proto/zubinstrument.pb.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <numbers>

namespace fs = std::filesystem;

InstrumentLibrary::InstrumentLibrary(const std::string& root)
    : m_res(root + "/res")
{
    fs::create_directories(instrumentsDir());
}

std::string InstrumentLibrary::addGroup(const std::string& group, const std::string& groupDat)
{
    const std::string dir = instrumentsDir() + "/" + group;
    fs::create_directories(dir);
    std::ofstream(dir + "/logo.png") << "png";
    if (!groupDat.empty())
        std::ofstream(dir + "/group.dat") << groupDat;
    return dir;
}

std::string InstrumentLibrary::addInstrument(const std::string& groupDir, const std::string& name,
    const std::string& descriptorText)
{
    const std::string dir = groupDir + "/" + name;
    fs::create_directories(dir);
    Quavertone::ZubInstrument descriptor;
    std::string error;
    EXPECT_EQ(ProtoAuthor::parseDescription(descriptorText, descriptor, error), 0) << error;
    EXPECT_EQ(ProtoAuthor::write(dir + "/instrument.zimbo", descriptor), 0);
    return dir;
}

std::string InstrumentLibrary::addSampled(const std::string& groupDir, const std::string& name, int id, double hz)
{
    const std::string dir = addInstrument(groupDir, name,
        "name: \"" + name + "\" id: " + std::to_string(id) + " instrument_type: Sampled");
    const std::string packDir = dir + "/samplepack";
    fs::create_directories(packDir);
    const int frames = 44100;
    std::vector<float> sine(2 * frames);
    for (int i = 0; i < frames; ++i)
        sine[2 * i] = sine[2 * i + 1] = 0.5f * static_cast<float>(std::sin(2.0 * std::numbers::pi * hz * i / 44100.0));
    EXPECT_EQ(writeWav(packDir + "/sine.wav", sine.data(), static_cast<int>(sine.size())), 0);
    Quavertone::SamplePack pack;
    auto* zone = pack.add_zone();
    zone->set_root_key(60);
    zone->set_filename("sine.wav");
    zone->mutable_adsr_params()->set_attack_time(0.01f);
    EXPECT_EQ(ProtoAuthor::write(packDir + "/samplepack.zsfb", pack), 0);
    return dir;
}

void InstrumentLibrary::linkSoundFont(const std::string& dir)
{
    fs::create_directories(dir);
    fs::create_symlink(kDebianSoundFont, dir + "/module.dat");
}

void InstrumentLibrary::makeStandard()
{
    const std::string essentials = addGroup("00_essentials", "#111111\n#222222\n#333333\n#444444\n");
    addSampled(essentials, "classic", 1);
    const std::string synth = addGroup("10_synth");
    addInstrument(synth, "lead", "name: \"Lead\" id: 260 instrument_type: Synth");
    const std::string soundFont = addGroup("20_soundfont");
    linkSoundFont(soundFont + "/library");
    addInstrument(soundFont, "piano", "name: \"Piano\" id: 4001 instrument_type: SoundFont");
    const std::string inputs = addGroup("50_inputdevices");
    for (const char* logo : { "microphone", "soundflower", "lineinput" }) {
        fs::create_directories(inputs + "/" + logo);
        std::ofstream(inputs + "/" + logo + "/logo.png") << "png";
    }
}

void RecordingBridge::postMessage(std::string message)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_messages.push_back(std::move(message));
}

std::vector<std::string> RecordingBridge::messages()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_messages;
}

void RecordingBridge::clear()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_messages.clear();
}

int RecordingBridge::count(const std::string& message)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return static_cast<int>(std::count(m_messages.begin(), m_messages.end(), message));
}
