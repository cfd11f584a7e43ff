#include "engine/zubengine.h"

#include "engine/base64.h"
#include "engine/denormalguard.h"
#include "engine/drumloopcollection.h"
#include "engine/drumloopplayer.h"
#include "engine/masterbus.h"
#include "engine/metronome.h"
#include "engine/nativeaudiomanagerinterface.h"
#include "engine/nativejsbridge.h"
#include "engine/offlinesection.h"
#include "engine/project.h"
#include "engine/renderer.h"
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
#include <iostream>
#include <string>
#include <vector>

ZubEngine::ZubEngine(NativeAudioManagerInterface* audioManager)
    : m_pAudioManager(audioManager)
{
    m_pInstrument = new Instrument;
    m_pInstrument->loadFromDirectory(std::string(Instrument::kResourceDir) + "/instruments/00_essentials/classic");
    m_pInstrumentCollection = new InstrumentCollection(audioManager, Instrument::kResourceDir);
    m_pDrumLoopCollection = new DrumLoopCollection(std::string(Instrument::kResourceDir) + "/beats");
    m_pLoopRecorder = new LoopRecorder;
    m_pLoopPool = new LoopPool;
    m_pProject = new Project;
    m_pIdeaCollection = new IdeaCollection(m_pLoopPool, m_pProject);
    m_pTransport = &Transport::instance();
    m_pMetronome = new Metronome;
    m_pMasterBus = new MasterBus;
    m_pDrumLoopPlayer = new DrumLoopPlayer(m_pIdeaCollection, m_pLoopPool, m_pLoopRecorder, m_pMetronome, m_pTransport);
}

ZubEngine::~ZubEngine()
{
    delete m_pDrumLoopPlayer;
    delete m_pMasterBus;
    delete m_pMetronome;
    // Ideas hold loops of the pool: they go first.
    delete m_pIdeaCollection;
    delete m_pProject;
    delete m_pLoopPool;
    delete m_pLoopRecorder;
    delete m_pInstrumentCollection;
    delete m_pInstrument;
    delete m_pDrumLoopCollection;
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
    if (!m_pDrumLoopPlayer->acceptsTempo(bpm)) {
        std::printf("Tempo too slow to re-time the drum loop, ignored: %f\n", bpm);
        return 1;
    }
    m_pProject->setBpm(bpm);
    m_pTransport->setBpm(bpm);
    m_pMetronome->setTempo(bpm);
    // With no drum loop the recorder is re-timed itself.
    if (!m_pDrumLoopPlayer->retime(bpm, nullptr))
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
    clearDrumLoop();
    m_pProject->reset();
    m_pIdeaCollection->clearAll();
    m_pLoopPool->collectGarbage();
}

int ZubEngine::loadDrumLoopByName(const char* fileName)
{
    return m_pDrumLoopPlayer->load(m_pDrumLoopCollection->folder(), fileName ? fileName : "");
}

int ZubEngine::loadDrumLoopByIndex(unsigned index)
{
    const DrumLoopInfo* info = m_pDrumLoopCollection->at(index);
    if (!info) {
        std::printf("No drum loop at index %u, ignored\n", index);
        return 1;
    }
    return loadDrumLoopByName(info->fileName().c_str());
}

void ZubEngine::playDrumLoop()
{
    m_pDrumLoopPlayer->play();
}

void ZubEngine::stopDrumLoop()
{
    m_pDrumLoopPlayer->stop();
}

void ZubEngine::clearDrumLoop()
{
    m_pDrumLoopPlayer->clear();
}

int ZubEngine::renderToFile(std::FILE* file)
{
    if (m_pIdeaCollection->ideas().empty()) {
        std::cerr << "Error: No idea to render. Make an first idea!" << std::endl;
        return 1;
    }
    Idea* idea = m_pIdeaCollection->activeIdea();
    if (!idea) {
        std::cerr << "Error: No idea to render. Make an idea and activate it first!" << std::endl;
        return 1;
    }
    int numLoops = 0;
    const int64 length = idea->maxLoopLengthFrames(&numLoops);
    if (numLoops == 0) {
        std::cerr << "Error: No loop to render. Make a loop in the first idea!" << std::endl;
        return 1;
    }
    OfflineSection offline(*m_pTransport, m_pAudioInterface);
    idea->syncPlayPos(0);
    return Renderer::renderToWav(file, idea, length, 0.5f);
}

void ZubEngine::deliverWave(const std::string& member)
{
    if (m_pJsBridge)
        m_pJsBridge->deliverMessage("{ \"wave\" : { " + member + " } }");
}

int ZubEngine::renderToJs()
{
    std::cout << "Rendering to JS..." << std::endl;
    const std::vector<Idea*> ideas = m_pIdeaCollection->ideas();
    if (ideas.empty()) {
        std::cerr << "Error: No idea to render. Make an first idea!" << std::endl;
        return 1;
    }
    int numLoops = 0;
    const int64 length = ideas.front()->maxLoopLengthFrames(&numLoops);
    if (numLoops == 0) {
        std::cerr << "Error: No loop to render. Make a loop in the first idea!" << std::endl;
        return 1;
    }
    {
        OfflineSection offline(*m_pTransport, m_pAudioInterface);
        // Each block is one whole process cycle, master bus included.
        Renderer::renderToSink(
            [this](const void* bytes, std::size_t size) {
                deliverWave("\"data\" : \"" + Base64::encode(bytes, size) + "\"");
                return true;
            },
            this, length, 1.0f);
    }
    deliverWave("\"end\" : true");
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
