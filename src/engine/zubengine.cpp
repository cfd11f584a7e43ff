#include "engine/zubengine.h"

#include "engine/denormalguard.h"
#include "engine/masterbus.h"
#include "engine/metronome.h"
#include "engine/nativeaudiomanagerinterface.h"
#include "engine/project.h"
#include "engine/transport.h"
#include "instruments/instrument.h"
#include "instruments/instrumentcollection.h"
#include "loops/idea.h"
#include "loops/ideacollection.h"
#include "loops/loop.h"
#include "loops/looppool.h"
#include "loops/looprecorder.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

ZubEngine::ZubEngine(NativeAudioManagerInterface* audioManager)
    : m_pAudioManager(audioManager)
{
    m_pInstrument = new Instrument;
    m_pInstrument->loadFromDirectory(std::string(Instrument::kResourceDir) + "/instruments/00_essentials/classic");
    m_pInstrumentCollection = new InstrumentCollection(audioManager, Instrument::kResourceDir);
    m_pLoopRecorder = new LoopRecorder;
    m_pLoopPool = new LoopPool;
    m_pProject = new Project;
    m_pIdeaCollection = new IdeaCollection(m_pLoopPool, m_pProject);
    m_pTransport = &Transport::instance();
    m_pMetronome = new Metronome;
    m_pMasterBus = new MasterBus;
}

ZubEngine::~ZubEngine()
{
    delete m_pMasterBus;
    delete m_pMetronome;
    // Ideas hold loops of the pool: they go first.
    delete m_pIdeaCollection;
    delete m_pProject;
    delete m_pLoopPool;
    delete m_pLoopRecorder;
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
    const int64 start = CycleMeter::now();
    DenormalGuard denormals;
    // The host may hand us any buffer size; the components take bounded pieces.
    for (int done = 0; done < numFrames;) {
        const int n = std::min(numFrames - done, MAX_CYCLE_FRAMES);
        processCycle(buffer + done * ZUB_FRAMESIZE, n);
        done += n;
    }
    m_cycleMeter.finish(start, numFrames);
}

void ZubEngine::processCycle(float* buffer, int n)
{
    // The order matters: every component after the transport is aligned to
    // the position it has just advanced to.
    std::memset(buffer, 0, sizeof(float) * ZUB_FRAMESIZE * n);
    m_pTransport->process(buffer, n);
    const int64 pos = m_pTransport->position();
    const uint32_t posLow = static_cast<uint32_t>(pos);

    m_pInstrument->process(buffer, n);

    // The recorder takes the instrument out of the buffer while recording
    // and plays it back from its loop.
    m_pLoopRecorder->record(buffer, n);
    m_pLoopRecorder->process(buffer, n);
    m_pLoopRecorder->setPlayPosFrames(posLow);

    m_pIdeaCollection->process(buffer, n);
    m_pIdeaCollection->syncPlayPos(static_cast<int>(posLow));

    m_pMetronome->process(buffer, n);
    m_pMetronome->setPosition(pos);

    m_pMasterBus->process(buffer, n);
}

// The velocity is accepted and not passed on.
void ZubEngine::noteOn(int note, int velocity)
{
    (void)velocity;
    m_pInstrument->noteOn(note);
    m_pLoopRecorder->noteOn(note);
}

void ZubEngine::noteOff(int note)
{
    m_pInstrument->noteOff(note);
    m_pLoopRecorder->noteOff(note);
}

int ZubEngine::setTempo(float bpm)
{
    if (!(bpm >= ZUB_MIN_BPM && bpm <= ZUB_MAX_BPM)) {
        std::printf("Tempo out of range, ignored: %f\n", bpm);
        return 1;
    }
    m_pProject->setBpm(bpm);
    m_pTransport->setBpm(bpm);
    m_pMetronome->setTempo(bpm);
    // Drum loop re-timing comes here; with no drum loop the recorder is
    // re-timed itself.
    m_pLoopRecorder->setTempo(bpm, true);
    return 0;
}

int ZubEngine::createLoopFromLoopRecorder()
{
    if (m_pIdeaCollection->ideas().empty())
        m_pIdeaCollection->addIdea(new Idea(m_pLoopPool));
    Idea* idea = m_pIdeaCollection->activeIdea();
    if (!idea) {
        std::printf("No active idea to take the loop recorder's loop\n");
        return 1;
    }
    std::shared_ptr<Loop> loop = m_pLoopPool->createLoop();
    if (!loop)
        return 1;
    m_pLoopRecorder->moveInto(*loop);
    idea->addLoop(loop);
    m_pProject->setModified(true);
    return 0;
}

void ZubEngine::clearProject()
{
    // The drum loop sample is deleted and the drum loop stopped here first.
    m_pProject->reset();
    m_pIdeaCollection->clearAll();
    m_pLoopPool->collectGarbage();
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
