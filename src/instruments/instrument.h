#pragma once

#include "core/playbackengine.h"
#include "core/zubclock.h"
#include "instruments/instrumentloader.h"

#include <atomic>
#include <json/value.h>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class NativeJsBridge;
class RecordingBuffer;
class Sampler;
class SoundFontSynth;
class SynthEngine;

namespace Quavertone {
class ZubInstrument;
}

// The one sound source the user plays. Loading another instrument
// reconfigures this object: a sampled instrument (the Sampler), a synth
// preset (the modal synth), a SoundFont program (FluidSynth) or a live input.
//
// Threads: process runs on the audio thread, noteOn/noteOff on the MIDI or
// GUI thread, loads on the GUI thread with sample packs and SoundFonts read
// on the loader thread. m_mutex guards the kind, the ready flags and the
// switch-over between sound sources; it is never held while files are read.
class Instrument final : public PlaybackEngine
{
public:
    enum InstrumentType { Sampled = 0, Synth = 1, InputDevice = 2, SoundFont = 3 };
    enum ControlType { Keyboard = 0, DrumPads = 1, Custom = 2 };

    static constexpr int kScratchFrames = 16384;
    static constexpr int kSynthVelocity = 64;
    static constexpr int64 kLevelIntervalMicros = 50000;
    static constexpr int kShownNameLength = 17;
    static constexpr int kCutNameLength = 15;

    explicit Instrument(const ZubClock& clock = ZubClock::system());
    ~Instrument();

    // A catalogue entry: it describes an instrument and never plays, so it
    // holds no live-input buffer (half a megabyte each).
    static Instrument* catalogueEntry();

    Instrument(const Instrument&) = delete;
    Instrument& operator=(const Instrument&) = delete;

    // Once this returns, the loader thread no longer posts to the previous
    // bridge, so its owner may destroy it.
    void setJsBridge(NativeJsBridge* bridge);

    // Reads dir + "/instrument.zimbo" and takes its metadata. A missing file
    // leaves the instrument silent; a descriptor of a kind that cannot be
    // loaded is refused and changes nothing. Returns true when read.
    bool readDescriptor(const std::string& dir, Quavertone::ZubInstrument& descriptor);
    // Configures the sound source of the kind readDescriptor set; sample
    // packs and SoundFonts finish on the loader thread. Returns 0, or 1 when
    // the kind cannot be loaded.
    int load(const Quavertone::ZubInstrument& descriptor, const std::string& dir);
    // readDescriptor, then load. Returns 0 or 1.
    int loadFromDirectory(const std::string& dir);

    void setInputDevice(int deviceIndex, const std::string& deviceName);
    // setInputDevice(id - 500, name), announced as a load that ends at once.
    void selectInputDevice(int id, const std::string& deviceName);

    // 0 <= note < 128; others are ignored.
    void noteOn(int note);
    void noteOff(int note);

    // Audio thread: adds (sampler, input) or writes (synth, SoundFont) the
    // instrument into the buffer, which holds silence when the engine calls.
    void process(float* buffer, int numFrames) override;

    void toJson(Json::Value& root) const;

    const std::string& name() const { return m_name; }
    const std::string& description() const { return m_description; }
    int id() const { return m_id; }
    const std::string& logo() const { return m_logo; }
    int instrumentType() const { return m_instrumentType; }
    int controlType() const { return m_controlType; }
    // Null for a catalogue entry.
    RecordingBuffer* recordingBuffer() const { return m_pRecordingBuffer.get(); }
    // Audio thread, after process: how late the live input it played in this
    // cycle arrived after the moment it belongs to (RecordingBuffer::
    // latenessFrames); 0 when it played no live input.
    int64 inputLatenessFrames() const { return m_inputLateness; }

    // True when the current kind can play (its load has completed).
    bool isReady();
    // Blocks until the background loads have finished.
    void waitForLoad() { m_loader.waitIdle(); }

    // The sound sources, null until a load of their kind created them.
    Sampler* sampler() const { return m_pSampler.get(); }
    SynthEngine* synthEngine() const { return m_pSynthEngine; }
    SoundFontSynth* soundFontSynth() const { return m_pSoundFont; }

    static bool isLoadableKind(int type);
    // The name as the page shows it: at most 17 characters, else 15 and "...".
    static std::string shownDeviceName(const std::string& deviceName);
    // The page's path of the logo of a live input with this name.
    static std::string inputDeviceLogo(const std::string& deviceName);

private:
    struct CatalogueEntryTag
    {
    };
    explicit Instrument(CatalogueEntryTag);

    // Supersedes pending loads and silences the instrument until one completes.
    unsigned beginChange();
    void loadSampled(const std::string& dir, unsigned generation);
    void loadSynth();
    void loadSoundFont(const std::string& dir, unsigned generation);
    void ensureScratchBuffers();
    // Loader thread: marks the kind ready if no newer load has started.
    // True where the load is installed (not overtaken by a later one).
    bool finishLoad(unsigned generation, bool ok, bool& readyFlag);
    void renderStereo(float* buffer, int numFrames);
    void processInput(float* buffer, int numFrames);
    void postLoading(int state);

    std::string m_name;
    std::string m_description;
    int m_id = 0;
    std::string m_logo;
    int m_instrumentType = Sampled;
    int m_controlType = Keyboard;
    std::unique_ptr<Sampler> m_pSampler;
    SynthEngine* m_pSynthEngine = nullptr;
    std::vector<float> m_left;
    std::vector<float> m_right;
    bool m_bEngineReady = false;
    bool m_bSamplerReady = false;
    std::atomic<NativeJsBridge*> m_pJsBridge { nullptr };
    // Held by the loader thread while it posts and by setJsBridge; the audio
    // thread reads the atomic alone.
    std::mutex m_bridgeMutex;
    std::unique_ptr<RecordingBuffer> m_pRecordingBuffer;
    float m_gain = 1.0f;
    int64 m_inputLateness = 0; // audio thread
    SoundFontSynth* m_pSoundFont = nullptr;
    std::atomic<unsigned> m_iLoadGeneration { 0 };
    std::mutex m_mutex;
    InstrumentLoader m_loader;
};
