#pragma once

#include "core/nativeaudiomanagerinterface.h"
#include "core/nativejsbridge.h"

#include <mutex>
#include <string>
#include <vector>

// A real instrument library on disk for the instrument and engine tests:
// descriptors and sample packs authored with the same code as the content,
// SoundFonts linked to the Debian General MIDI font.
class InstrumentLibrary
{
public:
    static constexpr const char* kDebianSoundFont = "/usr/share/sounds/sf2/FluidR3_GM.sf2";

    // Library below root + "/res/instruments".
    explicit InstrumentLibrary(const std::string& root);

    std::string resDir() const { return m_res; }
    std::string instrumentsDir() const { return m_res + "/instruments"; }

    // Creates res/instruments/group with a logo and, when given, group.dat.
    std::string addGroup(const std::string& group, const std::string& groupDat = "");
    // Creates group/name with a descriptor from protobuf text format.
    std::string addInstrument(const std::string& groupDir, const std::string& name,
        const std::string& descriptorText);
    // A sampled instrument: one zone over every key, a sine of hz at root key 60.
    std::string addSampled(const std::string& groupDir, const std::string& name, int id, double hz = 440.0);
    // dir + "/module.dat" linked to the Debian SoundFont.
    void linkSoundFont(const std::string& dir);

    // The usual library: 00_essentials/classic (sampled, id 1), 10_synth/lead
    // (id 260), 20_soundfont/piano (id 4001, shared module) and an input group.
    void makeStandard();

private:
    std::string m_res;
};

// Collects what the engine posts to the page, from any thread.
class RecordingBridge : public NativeJsBridge
{
public:
    void deliverMessage(std::string message) override { postMessage(std::move(message)); }
    void postMessage(std::string message) override;
    std::vector<std::string> messages();
    void clear();
    // How often the exact text was posted.
    int count(const std::string& message);

private:
    std::mutex m_mutex;
    std::vector<std::string> m_messages;
};

// Input devices with fixed names; remembers the recording device choices.
class FakeAudioManager : public NativeAudioManagerInterface
{
public:
    explicit FakeAudioManager(std::vector<std::string> names)
        : m_names(std::move(names))
    {
    }
    std::vector<std::string> inputDeviceNames() override { return m_names; }
    void setRecordingDevice(int index) override { m_choices.push_back(index); }
    const std::vector<int>& choices() const { return m_choices; }

private:
    std::vector<std::string> m_names;
    std::vector<int> m_choices;
};
