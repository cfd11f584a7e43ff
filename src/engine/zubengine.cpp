#include "engine/zubengine.h"

#include "engine/denormalguard.h"
#include "engine/masterbus.h"
#include "engine/metronome.h"
#include "engine/transport.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

ZubEngine::ZubEngine(NativeAudioManagerInterface* audioManager)
    : m_pAudioManager(audioManager)
    , m_pTransport(&Transport::instance())
{
    m_pMetronome = new Metronome;
    m_pMasterBus = new MasterBus;
}

ZubEngine::~ZubEngine()
{
    delete m_pMasterBus;
    delete m_pMetronome;
}

void ZubEngine::setJsBridge(NativeJsBridge* bridge)
{
    m_pJsBridge = bridge;
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

    m_pMetronome->process(buffer, n);
    m_pMetronome->setPosition(pos);

    m_pMasterBus->process(buffer, n);
}

// Notes go to the instrument and the recorders' note lists once those exist;
// the velocity is accepted and not passed on.
void ZubEngine::noteOn(int note, int velocity)
{
    (void)note;
    (void)velocity;
}

void ZubEngine::noteOff(int note)
{
    (void)note;
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
