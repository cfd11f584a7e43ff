#include "engine/zubengine.h"

#include "engine/denormalguard.h"
#include "engine/masterbus.h"
#include "engine/metronome.h"
#include "engine/nativeaudiomanagerinterface.h"
#include "engine/transport.h"
#include "instruments/instrument.h"
#include "instruments/instrumentcollection.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

ZubEngine::ZubEngine(NativeAudioManagerInterface* audioManager)
    : m_pAudioManager(audioManager)
    , m_pTransport(&Transport::instance())
{
    m_pInstrument = new Instrument;
    m_pInstrument->loadFromDirectory(std::string(Instrument::kResourceDir) + "/instruments/00_essentials/classic");
    m_pInstrumentCollection = new InstrumentCollection(audioManager, Instrument::kResourceDir);
    m_pMetronome = new Metronome;
    m_pMasterBus = new MasterBus;
}

ZubEngine::~ZubEngine()
{
    delete m_pMasterBus;
    delete m_pMetronome;
    delete m_pInstrumentCollection;
    delete m_pInstrument;
}

void ZubEngine::setJsBridge(NativeJsBridge* bridge)
{
    m_pJsBridge = bridge;
    m_pInstrument->setJsBridge(bridge);
}

void ZubEngine::process(float* buffer, int numFrames)
{
    DenormalGuard denormals;
    // The host may hand us any buffer size; the components take bounded pieces.
    while (numFrames > 0) {
        const int n = std::min(numFrames, MAX_CYCLE_FRAMES);
        processCycle(buffer, n);
        buffer += n * ZUB_FRAMESIZE;
        numFrames -= n;
    }
}

void ZubEngine::processCycle(float* buffer, int n)
{
    // The order matters: every component after the transport is aligned to
    // the position it has just advanced to.
    std::memset(buffer, 0, sizeof(float) * ZUB_FRAMESIZE * n);
    m_pTransport->process(buffer, n);
    const int64 pos = m_pTransport->position();

    m_pInstrument->process(buffer, n);

    m_pMetronome->process(buffer, n);
    m_pMetronome->setPosition(pos);

    m_pMasterBus->process(buffer, n);
}

// Notes go to the instrument and the recorders' note lists once those exist;
// the velocity is accepted and not passed on.
void ZubEngine::noteOn(int note, int velocity)
{
    (void)velocity;
    m_pInstrument->noteOn(note);
}

void ZubEngine::noteOff(int note)
{
    m_pInstrument->noteOff(note);
}

int ZubEngine::setTempo(float bpm)
{
    if (!(bpm >= ZUB_MIN_BPM && bpm <= ZUB_MAX_BPM)) {
        std::printf("Tempo out of range, ignored: %f\n", bpm);
        return 1;
    }
    m_pTransport->setBpm(bpm);
    m_pMetronome->setTempo(bpm);
    return 0;
}

int ZubEngine::loadInstrument(unsigned id)
{
    const unsigned device = id - 500;
    if (device < 100) {
        std::printf("loading input device id: %u\n", id);
        const std::vector<std::string> names = m_pAudioManager ? m_pAudioManager->inputDeviceNames()
                                                                : std::vector<std::string>();
        if (device >= names.size()) {
            std::printf("No input device with id: %u\n", id);
            return 1;
        }
        m_pAudioManager->setRecordingDevice(static_cast<int>(device));
        m_pInstrument->selectInputDevice(static_cast<int>(id), names[device]);
        return 0;
    }
    if (m_pAudioManager)
        m_pAudioManager->setRecordingDevice(-1);
    const std::string dir = m_pInstrumentCollection->pathForId(static_cast<int>(id));
    m_pInstrument->loadFromDirectory(dir);
    std::printf("***loaded instrument on demand from %s\n", dir.c_str());
    return 0;
}
