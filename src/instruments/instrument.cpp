#include "instruments/instrument.h"

#include "core/log.h"
#include "core/nativejsbridge.h"
#include "core/recordingbuffer.h"
#include "core/resourcedir.h"
#include "formats/protofile.h"
#include "instruments/sampler.h"
#include "instruments/soundfontsynth.h"
#include "proto/zubinstrument.pb.h"
#include "synth/kelpsynthengine.h"

#include <algorithm>
#include <cstdio>

namespace {
const char* const kLoadingStarted = "{ \"instrument\" : { \"loading\" : 1 } }";
const char* const kLoadingFinished = "{ \"instrument\" : { \"loading\" : 0 } }";
constexpr int kNumNotes = 128;
constexpr int kFirstSoundFontId = 4000;
constexpr int kLastSoundFontId = 5000;

// Byte length of the first n UTF-8 characters of text (all of it if shorter).
std::size_t utf8Prefix(const std::string& text, std::size_t n, std::size_t& characters)
{
    std::size_t i = 0;
    characters = 0;
    while (i < text.size() && characters < n) {
        ++i;
        while (i < text.size() && (static_cast<unsigned char>(text[i]) & 0xC0) == 0x80)
            ++i;
        ++characters;
    }
    return i;
}
} // namespace

Instrument::Instrument(const ZubClock& clock)
    : m_pRecordingBuffer(new RecordingBuffer(clock))
{
}

Instrument::Instrument(CatalogueEntryTag)
{
}

Instrument* Instrument::catalogueEntry()
{
    return new Instrument(CatalogueEntryTag {});
}

Instrument::~Instrument()
{
    // The loader thread uses the sound sources; it goes first.
    m_loader.stop();
    delete m_pSynthEngine;
    delete m_pSoundFont;
}

bool Instrument::isLoadableKind(int type)
{
    return type == Sampled || type == Synth || type == SoundFont;
}

unsigned Instrument::beginChange()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_bSamplerReady = false;
    m_bEngineReady = false;
    return ++m_iLoadGeneration;
}

bool Instrument::readDescriptor(const std::string& dir, Quavertone::ZubInstrument& descriptor)
{
    if (ProtoFile::read(dir + "/instrument.zimbo", descriptor) != 0) {
        beginChange();
        logInfo() << "Failed to open Zub Instrument: " << dir;
        return false;
    }
    logDebug() << "Loaded Zub Instrument Descriptor: " << dir;
    if (!isLoadableKind(descriptor.instrument_type())) {
        logInfo() << "Error: Instrument type not implemented yet: " << descriptor.instrument_type();
        return false;
    }
    beginChange();
    m_name = descriptor.name();
    m_description = descriptor.description();
    m_id = descriptor.id();
    m_controlType = descriptor.control_type();
    m_logo = "../../" + dir + "/" + descriptor.artwork().logo();
    std::lock_guard<std::mutex> lock(m_mutex);
    m_instrumentType = descriptor.instrument_type();
    m_gain = descriptor.gain();
    return true;
}

int Instrument::loadFromDirectory(const std::string& dir)
{
    Quavertone::ZubInstrument descriptor;
    if (!readDescriptor(dir, descriptor))
        return 1;
    return load(descriptor, dir);
}

int Instrument::load(const Quavertone::ZubInstrument& descriptor, const std::string& dir)
{
    (void)descriptor; // readDescriptor has taken what the load needs
    if (!isLoadableKind(m_instrumentType)) {
        logInfo() << "Error: Instrument type not implemented yet: " << m_instrumentType;
        return 1;
    }
    postLoading(1);
    const unsigned generation = beginChange();
    // Nothing plays the SoundFont once the ready flags are down.
    if (m_pSoundFont)
        m_pSoundFont->unload();
    if (m_pSampler) {
        for (int note = 0; note < kNumNotes; ++note)
            m_pSampler->noteOff(note);
    }
    switch (m_instrumentType) {
    case Sampled:
        loadSampled(dir, generation);
        break;
    case Synth:
        loadSynth();
        break;
    default:
        loadSoundFont(dir, generation);
        break;
    }
    return 0;
}

void Instrument::loadSampled(const std::string& dir, unsigned generation)
{
    if (!m_pSampler) {
        auto sampler = std::make_unique<Sampler>();
        std::lock_guard<std::mutex> lock(m_mutex);
        m_pSampler = std::move(sampler);
    }
    const std::string packDir = dir + "/samplepack";
    m_loader.submit({
        [this, packDir, generation, name = m_name] {
            const bool ok = m_pSampler->load(packDir) == 0;
            if (finishLoad(generation, ok, m_bSamplerReady))
                logInfo() << "Instrument ready: " << name;
        },
        [this] { postLoading(0); },
    });
}

void Instrument::loadSynth()
{
    if (!m_pSynthEngine) {
        SynthEngine* engine = new KelpSynthEngine;
        engine->setSampleRate(44100.0f);
        ensureScratchBuffers();
        std::lock_guard<std::mutex> lock(m_mutex);
        m_pSynthEngine = engine;
    }
    {
        // Under the lock: the audio thread reads the program, the note
        // thread writes the event queue.
        std::lock_guard<std::mutex> lock(m_mutex);
        m_pSynthEngine->allNotesOff();
        m_pSynthEngine->setProgram(m_id & 255);
        m_bEngineReady = true;
    }
    logInfo() << "Instrument ready: " << m_name;
    postLoading(0);
}

void Instrument::loadSoundFont(const std::string& dir, unsigned generation)
{
    if (!m_pSoundFont) {
        ensureScratchBuffers();
        SoundFontSynth* synth = new SoundFontSynth;
        std::lock_guard<std::mutex> lock(m_mutex);
        m_pSoundFont = synth;
    }
    const bool shared = kFirstSoundFontId < m_id && m_id < kLastSoundFontId;
    const std::string path = (shared ? dir + "/../library" : dir) + "/module.dat";
    const int program = shared ? m_id - kFirstSoundFontId : 0;
    m_loader.submit({
        [this, path, program, generation, name = m_name] {
            const int fontId = m_pSoundFont->loadFont(path);
            bool installed = false;
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                if (fontId > 0 && generation == m_iLoadGeneration) {
                    m_pSoundFont->select(fontId, program, path);
                    m_bEngineReady = true;
                    installed = true;
                }
            }
            // Overtaken: this font was never selected, so nothing plays it.
            if (!installed)
                m_pSoundFont->unloadFont(fontId);
            else
                logInfo() << "Instrument ready: " << name;
            postLoading(0);
        },
        [this] { postLoading(0); },
    });
}

void Instrument::ensureScratchBuffers()
{
    if (!m_left.empty())
        return;
    std::vector<float> left(kScratchFrames), right(kScratchFrames);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_left.swap(left);
    m_right.swap(right);
}

bool Instrument::finishLoad(unsigned generation, bool ok, bool& readyFlag)
{
    bool installed = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (ok && generation == m_iLoadGeneration)
            installed = readyFlag = true;
    }
    postLoading(0);
    return installed;
}

void Instrument::setInputDevice(int deviceIndex, const std::string& deviceName)
{
    beginChange();
    m_id = 500 + deviceIndex;
    m_name = shownDeviceName(deviceName);
    m_logo = inputDeviceLogo(deviceName);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_instrumentType = InputDevice;
}

void Instrument::selectInputDevice(int id, const std::string& deviceName)
{
    setInputDevice(id - 500, deviceName);
    postLoading(1);
    postLoading(0);
}

std::string Instrument::shownDeviceName(const std::string& deviceName)
{
    std::size_t characters = 0;
    utf8Prefix(deviceName, kShownNameLength + 1, characters);
    if (characters <= static_cast<std::size_t>(kShownNameLength))
        return deviceName;
    return deviceName.substr(0, utf8Prefix(deviceName, kCutNameLength, characters)) + "...";
}

std::string Instrument::inputDeviceLogo(const std::string& deviceName)
{
    const std::string dir = std::string("../../") + "/" + ZUB_RESOURCE_DIR + "/instruments/50_inputdevices";
    auto contains = [&](const char* word) { return deviceName.find(word) != std::string::npos; };
    if (contains("Microphone") || contains("Camera"))
        return dir + "/microphone/logo.png";
    if (contains("Soundflower"))
        return dir + "/soundflower/logo.png";
    return dir + "/lineinput/logo.png";
}

void Instrument::noteOn(int note)
{
    if (note < 0 || note >= kNumNotes)
        return;
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_instrumentType == Sampled && m_bSamplerReady)
        m_pSampler->noteOn(note);
    else if (m_instrumentType == Synth && m_bEngineReady)
        m_pSynthEngine->noteOn(note, kSynthVelocity, 0);
    else if (m_instrumentType == SoundFont && m_bEngineReady)
        m_pSoundFont->noteOn(note);
}

void Instrument::noteOff(int note)
{
    if (note < 0 || note >= kNumNotes)
        return;
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_instrumentType == Sampled && m_bSamplerReady)
        m_pSampler->noteOff(note);
    else if (m_instrumentType == Synth && m_bEngineReady)
        m_pSynthEngine->noteOff(note, 0);
    else if (m_instrumentType == SoundFont && m_bEngineReady)
        m_pSoundFont->noteOff(note);
}

bool Instrument::isReady()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    switch (m_instrumentType) {
    case Sampled:
        return m_bSamplerReady;
    case InputDevice:
        return true;
    default:
        return m_bEngineReady;
    }
}

void Instrument::process(float* buffer, int numFrames)
{
    bool input = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_instrumentType == Sampled && m_bSamplerReady)
            m_pSampler->process(buffer, numFrames, m_gain);
        else if ((m_instrumentType == Synth || m_instrumentType == SoundFont) && m_bEngineReady)
            renderStereo(buffer, numFrames);
        input = m_instrumentType == InputDevice;
    }
    m_inputLateness = 0;
    if (input)
        processInput(buffer, numFrames);
}

void Instrument::renderStereo(float* buffer, int numFrames)
{
    // Both sources render whole channels: through the scratch buffers in
    // pieces they can hold, then interleaved with the gain.
    float* outputs[2] = { m_left.data(), m_right.data() };
    while (numFrames > 0) {
        const int n = std::min(numFrames, kScratchFrames);
        if (m_instrumentType == Synth)
            m_pSynthEngine->process(outputs, outputs, n);
        else
            m_pSoundFont->render(outputs[0], outputs[1], n);
        for (int i = 0; i < n; ++i) {
            buffer[2 * i] = m_left[i] * m_gain;
            buffer[2 * i + 1] = m_right[i] * m_gain;
        }
        buffer += 2 * n;
        numFrames -= n;
    }
}

void Instrument::processInput(float* buffer, int numFrames)
{
    if (!m_pRecordingBuffer)
        return;
    m_pRecordingBuffer->dropStale(numFrames);
    m_inputLateness = m_pRecordingBuffer->latenessFrames();
    m_pRecordingBuffer->mixInto(buffer, numFrames);
    NativeJsBridge* bridge = m_pJsBridge.load();
    if (!bridge || m_pRecordingBuffer->microsecondsSinceLevel() <= kLevelIntervalMicros)
        return;
    char text[64];
    std::snprintf(text, sizeof text, "{ \"input_vu_meter\" : { \"value\" : %g } }",
        static_cast<double>(m_pRecordingBuffer->level()));
    bridge->postMessage(text);
}

void Instrument::setJsBridge(NativeJsBridge* bridge)
{
    std::lock_guard lock(m_bridgeMutex);
    m_pJsBridge = bridge;
}

void Instrument::postLoading(int state)
{
    std::lock_guard lock(m_bridgeMutex);
    if (NativeJsBridge* bridge = m_pJsBridge.load())
        bridge->postMessage(state ? kLoadingStarted : kLoadingFinished);
}

void Instrument::toJson(Json::Value& root) const
{
    Json::Value& state = root["instrument"];
    state["name"] = m_name;
    state["description"] = m_description;
    state["id"] = m_id;
    state["logo"] = m_logo;
    state["instrument_type"] = m_instrumentType;
    state["control_type"] = m_controlType;
}
