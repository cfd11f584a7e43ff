#pragma once

// Named loads of the whole audio cycle, shared by the cycle benchmark and the
// test that proves the cycle allocates nothing under each of them. The
// instruments come from a small library written to a temporary folder, which
// becomes the working directory while the loads exist.

#include "authoring/protoauthor.h"
#include "engine/metronome.h"
#include "engine/transport.h"
#include "engine/zubengine.h"
#include "formats/wavewriter.h"
#include "instruments/instrument.h"
#include "instruments/sampler.h"
#include "loops/freestylerecorder.h"
#include "loops/looprecorder.h"
#include "proto/samplepack.pb.h"
#include "proto/zubinstrument.pb.h"
#include "synth/kelppresetbank.h"

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <numbers>
#include <random>
#include <string>
#include <vector>

class EngineLoads
{
public:
    enum Load {
        Idle,
        SamplerAtRoot,
        SamplerAboveRoot,
        SynthDefault,
        SynthCrystalStrings,
        SoundFont16Notes,
        Idea16Loops,
        LoopRecorderRecording,
        FreestyleTake,
        Everything,
        NumLoads
    };

    static constexpr int kRootKey = 60;
    static constexpr int kLoops = 16;
    static constexpr int kLoopBeats = 16;
    static constexpr int kSoundFontNotes = 16;
    static constexpr int kSynthVoices = 32;
    static constexpr const char* kSoundFont = "/usr/share/sounds/sf2/FluidR3_GM.sf2";
    static constexpr const char* kDrumLoop = "100 16 Bench Beat.wav";

    static const char* name(Load load)
    {
        static const char* const names[] = { "Idle", "TenSamplerVoicesAtRoot", "TenSamplerVoicesAboveRoot",
            "Synth32VoicesDefault", "Synth32VoicesCrystalStrings", "SoundFont16Notes", "Idea16LoopsOf16Beats",
            "LoopRecorderRecording", "FreestyleTake", "Everything" };
        return names[load];
    }

    EngineLoads()
        : m_previous(std::filesystem::current_path())
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "motifo-loads-XXXXXX").string();
        if (!mkdtemp(pattern.data()))
            std::abort();
        m_root = pattern;
        writeLibrary();
        std::filesystem::current_path(m_root);
    }

    ~EngineLoads()
    {
        m_pEngine.reset();
        std::filesystem::current_path(m_previous);
        std::filesystem::remove_all(m_root);
    }

    EngineLoads(const EngineLoads&) = delete;
    EngineLoads& operator=(const EngineLoads&) = delete;

    // A fresh engine at 120 bpm playing the load; nullptr (and why) when the
    // load cannot be set up here.
    ZubEngine* start(Load load, std::string& error)
    {
        m_pEngine.reset();
        Transport::instance().setPosition(0);
        Transport::instance().setBpm(120.0f);
        m_pEngine = std::make_unique<ZubEngine>(nullptr);
        m_load = load;
        ZubEngine& engine = *m_pEngine;
        const std::string instrument = instrumentFor(load);
        if (instrument == "strings" && !std::filesystem::exists(kSoundFont)) {
            error = std::string("no SoundFont at ") + kSoundFont;
            return nullptr;
        }
        if (!instrument.empty() && !use(instrumentDir(instrument), error))
            return nullptr;
        if (load == Idea16Loops || load == Everything)
            addLoops(engine);
        if (load == LoopRecorderRecording || load == Everything)
            engine.loopRecorder()->setRecord(true);
        if (load == Everything) {
            Json::Value unmute;
            unmute["metronome"]["mute"] = false;
            engine.metronome()->handleJson(unmute);
            if (!playDrumLoop(error))
                return nullptr;
        }
        strike();
        if (load == FreestyleTake || load == Everything) {
            startTake();
            if (engine.freestyleRecorder()->state() != FreestyleRecorder::STATE_RECORDING) {
                error = "the freestyle recorder did not start a take";
                return nullptr;
            }
        }
        return m_pEngine.get();
    }

    // Plays the library's drum loop in the running engine.
    bool playDrumLoop(std::string& error)
    {
        if (m_pEngine->loadDrumLoopByName(kDrumLoop) != 0) {
            error = "the drum loop did not load";
            return false;
        }
        m_pEngine->playDrumLoop();
        return true;
    }

    // Strikes the load's notes again once sampler voices have run out, and
    // starts another take once the freestyle recorder's buffer is full.
    void refresh()
    {
        if ((m_load == FreestyleTake || m_load == Everything)
            && m_pEngine->freestyleRecorder()->state() != FreestyleRecorder::STATE_RECORDING)
            startTake();
        Sampler* sampler = m_pEngine ? m_pEngine->instrument()->sampler() : nullptr;
        if (sampler && sampler->numActiveVoices() < Sampler::kNumVoices) {
            for (int note : notes())
                m_pEngine->noteOff(note);
            strike();
        }
    }

private:
    // The folder below the bench group of the instrument a load plays, or "".
    static std::string instrumentFor(Load load)
    {
        switch (load) {
        case SamplerAtRoot:
        case SamplerAboveRoot:
            return "sine";
        case SynthDefault:
            return "default";
        case SynthCrystalStrings:
        case Everything:
            return "crystal";
        case SoundFont16Notes:
            return "strings";
        default:
            return "";
        }
    }

    std::string instrumentDir(const std::string& name) const { return "res/instruments/10_bench/" + name; }

    std::vector<int> notes() const
    {
        std::vector<int> keys;
        switch (m_load) {
        case SamplerAtRoot:
            // At and below the root: the direct path.
            for (int i = 0; i < Sampler::kNumVoices; ++i)
                keys.push_back(kRootKey - 9 + i);
            break;
        case SamplerAboveRoot:
            for (int i = 0; i < Sampler::kNumVoices; ++i)
                keys.push_back(kRootKey + 19 + i);
            break;
        case SynthDefault:
        case SynthCrystalStrings:
        case Everything:
            for (int i = 0; i < kSynthVoices; ++i)
                keys.push_back(36 + i);
            break;
        case SoundFont16Notes:
            for (int i = 0; i < kSoundFontNotes; ++i)
                keys.push_back(48 + i);
            break;
        default:
            break;
        }
        return keys;
    }

    void strike()
    {
        for (int note : notes())
            m_pEngine->noteOn(note, 100);
        // Past the attack, so every voice renders its whole layout.
        std::vector<float> buffer(2 * 256);
        for (int i = 0; i < 200; ++i)
            m_pEngine->process(buffer.data(), 256);
    }

    // The freestyle recorder takes in the loop recorder's playback: noise
    // there keeps the take from ever ending as silence.
    void startTake()
    {
        if (m_load == FreestyleTake)
            addLoops(*m_pEngine, 0);
        FreestyleRecorder& recorder = *m_pEngine->freestyleRecorder();
        Json::Value initialize;
        initialize["freestyle_recorder"]["initialize"] = true;
        recorder.handleJson(initialize);
        m_pEngine->noteOn(kRootKey, 127);
        m_pEngine->noteOff(kRootKey);
    }

    bool use(const std::string& dir, std::string& error)
    {
        Instrument* instrument = m_pEngine->instrument();
        instrument->loadFromDirectory(dir);
        instrument->waitForLoad();
        if (!instrument->isReady()) {
            error = "the instrument in " + dir + " did not load";
            return false;
        }
        return true;
    }

    // Loops of noise, so nothing is skipped as silence; the recorder keeps
    // the noise it recorded last.
    void addLoops(ZubEngine& engine, int count = kLoops)
    {
        LoopRecorder& recorder = *engine.loopRecorder();
        recorder.setNumBeats(kLoopBeats);
        std::vector<float> noise(2 * static_cast<std::size_t>(recorder.lengthFrames()));
        std::mt19937 rng(1);
        std::uniform_real_distribution<float> dist(-0.1f, 0.1f);
        for (float& v : noise)
            v = dist(rng);
        for (int i = 0; i <= count; ++i) {
            recorder.setRecord(true);
            recorder.record(noise.data(), static_cast<int>(noise.size() / 2));
            if (i < count)
                engine.createLoopFromLoopRecorder();
        }
        recorder.setRecord(false);
    }

    void writeDescriptor(const std::string& dir, const std::string& name, int id,
        Quavertone::ZubInstrument::InstrumentType type)
    {
        std::filesystem::create_directories(dir);
        Quavertone::ZubInstrument descriptor;
        descriptor.set_name(name);
        descriptor.set_id(id);
        descriptor.set_instrument_type(type);
        if (ProtoAuthor::write(dir + "/instrument.zimbo", descriptor) != 0)
            std::abort();
    }

    // A sampled instrument whose one zone (a 30 s sine at the root key)
    // covers every key; the two synth programs; a SoundFont string section.
    void writeLibrary()
    {
        const std::string group = (m_root / instrumentDir("")).string();
        const std::string sine = group + "sine";
        writeDescriptor(sine, "Sine", 1, Quavertone::ZubInstrument::Sampled);
        const std::string pack = sine + "/samplepack";
        std::filesystem::create_directories(pack);
        const int frames = 30 * 44100;
        std::vector<float> samples(2 * static_cast<std::size_t>(frames));
        for (int i = 0; i < frames; ++i)
            samples[2 * i] = samples[2 * i + 1]
                = 0.3f * static_cast<float>(std::sin(2.0 * std::numbers::pi * 220.0 * i / 44100.0));
        if (writeWav(pack + "/sine.wav", samples.data(), static_cast<int>(samples.size())) != 0)
            std::abort();
        Quavertone::SamplePack samplePack;
        auto* zone = samplePack.add_zone();
        zone->set_root_key(kRootKey);
        zone->set_filename("sine.wav");
        if (ProtoAuthor::write(pack + "/samplepack.zsfb", samplePack) != 0)
            std::abort();

        // The synth plays program id & 255.
        const std::vector<SynthProgram> bank = KelpPresetBank::build();
        for (int i = 0; i < static_cast<int>(bank.size()); ++i) {
            if (bank[i].name() == "Default")
                writeDescriptor(group + "default", "Default", 256 + i, Quavertone::ZubInstrument::Synth);
            if (bank[i].name() == "Crystal Strings")
                writeDescriptor(group + "crystal", "Crystal Strings", 256 + i, Quavertone::ZubInstrument::Synth);
        }
        // A drum loop of 16 beats at 100 bpm, named as the collection reads it.
        std::filesystem::create_directories(m_root / "res/beats");
        const int drumFrames = 16 * 60 * 44100 / 100;
        std::vector<float> drums(2 * static_cast<std::size_t>(drumFrames));
        for (int i = 0; i < drumFrames; ++i)
            drums[2 * i] = drums[2 * i + 1] = (i % 26460) < 2000 ? 0.5f * std::sin(0.05f * float(i)) : 0.0f;
        if (writeWav((m_root / "res/beats" / kDrumLoop).string(), drums.data(), static_cast<int>(drums.size())) != 0)
            std::abort();

        // Ids 4001..4999 play program id - 4000 of the group's shared font.
        std::filesystem::create_directories(group + "library");
        std::filesystem::create_symlink(kSoundFont, group + "library/module.dat");
        writeDescriptor(group + "strings", "String Ensemble", 4048, Quavertone::ZubInstrument::SoundFont);
    }

    std::filesystem::path m_previous;
    std::filesystem::path m_root;
    std::unique_ptr<ZubEngine> m_pEngine;
    Load m_load = Idle;
};
