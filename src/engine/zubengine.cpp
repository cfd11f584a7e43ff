#include "engine/zubengine.h"

#include "core/base64.h"
#include "core/jsonfield.h"
#include "core/denormalguard.h"
#include "core/log.h"
#include "core/nativeaudiointerface.h"
#include "core/nativeaudiomanagerinterface.h"
#include "core/nativejsbridge.h"
#include "core/resourcedir.h"
#include "dsp/masterbus.h"
#include "engine/drumloopcollection.h"
#include "engine/drumloopplayer.h"
#include "engine/edithistory.h"
#include "engine/linksession.h"
#include "engine/metronome.h"
#include "engine/offlinesection.h"
#include "engine/project.h"
#include "engine/renderer.h"
#include "engine/songfiles.h"
#include "engine/songsource.h"
#include "engine/transport.h"
#include "instruments/instrument.h"
#include "instruments/instrumentcollection.h"
#include "loops/freestylerecorder.h"
#include "loops/freestyletempodetector.h"
#include "loops/idea.h"
#include "loops/ideacollection.h"
#include "loops/loop.h"
#include "loops/looppool.h"
#include "loops/looprecorder.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

ZubEngine::ZubEngine(NativeAudioManagerInterface* audioManager)
    : m_pAudioManager(audioManager)
    , m_liveInput(std::size_t(ZUB_FRAMESIZE) * MAX_CYCLE_FRAMES)
{
    m_pInstrument = new Instrument;
    m_pInstrument->loadFromDirectory(std::string(ZUB_RESOURCE_DIR) + "/instruments/00_essentials/classic");
    m_pInstrumentCollection = new InstrumentCollection(audioManager, ZUB_RESOURCE_DIR);
    m_pDrumLoopCollection = new DrumLoopCollection(std::string(ZUB_RESOURCE_DIR) + "/beats");
    m_pLoopRecorder = new LoopRecorder;
    m_pLoopPool = new LoopPool;
    m_pFreestyleTempoDetector = new FreestyleTempoDetector;
    m_pFreestyleRecorder = new FreestyleRecorder(m_pLoopPool, m_pFreestyleTempoDetector);
    m_pProject = new Project;
    m_pIdeaCollection = new IdeaCollection(m_pLoopPool, [this] { m_pProject->setModified(true); });
    m_pTransport = &Transport::instance();
    m_pMetronome = new Metronome;
    m_pMasterBus = new MasterBus;
    m_pDrumLoopPlayer = new DrumLoopPlayer(m_pIdeaCollection, m_pLoopPool, m_pLoopRecorder, m_pTransport);
    m_pSongFiles = new SongFiles(this);
    m_pHistory = new EditHistory(*this);
    m_pLinkSession = new LinkSession;
}

ZubEngine::~ZubEngine()
{
    // Its jobs read the song: they end first.
    delete m_pSongFiles;
    // Its steps hold ideas and loops.
    delete m_pHistory;
    delete m_pLinkSession;
    delete m_pDrumLoopPlayer;
    delete m_pMasterBus;
    delete m_pMetronome;
    // Ideas hold loops of the pool: they go first.
    delete m_pIdeaCollection;
    delete m_pProject;
    delete m_pFreestyleRecorder;
    delete m_pFreestyleTempoDetector;
    delete m_pLoopPool;
    delete m_pLoopRecorder;
    delete m_pInstrumentCollection;
    delete m_pInstrument;
    delete m_pDrumLoopCollection;
}

void ZubEngine::setJsBridge(NativeJsBridge* bridge)
{
    m_pJsBridge = bridge;
    m_pFreestyleTempoDetector->setJsBridge(bridge);
    m_pInstrument->setJsBridge(bridge);
    m_pFreestyleRecorder->setJsBridge(bridge);
    m_pSongFiles->setJsBridge(bridge);
}

void ZubEngine::process(float* buffer, int numFrames)
{
    const CycleMeter::Stamp start = CycleMeter::now();
    DenormalGuard denormals;
    Log::AudioThreadScope audioThread; // nothing in the cycle may log
    // The host may hand us any buffer size; the components take bounded pieces.
    for (int done = 0; done < numFrames;) {
        const int n = std::min(numFrames - done, MAX_CYCLE_FRAMES);
        processCycle(buffer + done * ZUB_FRAMESIZE, n);
        done += n;
    }
    m_pLinkSession->endBuffer();
    m_cycleMeter.finish(start, numFrames);
}

void ZubEngine::stampCycleStart(int64 microsFromNow)
{
    m_pLinkSession->stampBufferFromNow(microsFromNow);
}

void ZubEngine::processCycle(float* buffer, int n)
{
    // The order matters: every component after the transport is aligned to
    // the position it has just advanced to.
    std::memset(buffer, 0, sizeof(float) * ZUB_FRAMESIZE * n);
    // With Link on the transport first moves onto the session's beats.
    const LinkSession::Step linkStep = m_pLinkSession->alignCycle(*m_pTransport, n);
    m_pTransport->process(buffer, n);
    const int64 transportPos = m_pTransport->position();
    const int64 pos = timelinePosition(transportPos);
    const BeatGrid grid = m_pTransport->grid();

    const bool stopped = m_pIdeaCollection->isStopped();

    m_pInstrument->process(buffer, n);
    // Live input, late: both recorders place it where it was played.
    const int64 late = m_pInstrument->inputLatenessFrames();
    if (late > 0)
        std::memcpy(m_liveInput.data(), buffer, sizeof(float) * ZUB_FRAMESIZE * n);

    // The recorder takes the instrument out of the buffer while recording
    // and plays it back from its loop; live input goes in where it was
    // played. A stopped song leaves it silent.
    if (!stopped) {
        m_pLoopRecorder->recordLate(buffer, n, late);
        m_pLoopRecorder->process(buffer, n);
    }
    m_pLoopRecorder->alignTo(pos, grid, transportPos);

    // Free takes hear what the loop recorder left: the instrument and its playback.
    m_pFreestyleRecorder->recordLate(buffer, late > 0 ? m_liveInput.data() : nullptr, n, late);
    m_pFreestyleRecorder->process(buffer, n);
    m_pFreestyleTempoDetector->process(buffer, n);

    mixIdeas(buffer, n, pos - n, grid);
    m_pIdeaCollection->alignTo(pos, grid);

    // From the cycle's start, which a Link jump may just have moved.
    m_pMetronome->setPosition(pos - n);
    if (!stopped)
        m_pMetronome->process(buffer, n);

    m_pMasterBus->process(buffer, n);
    if (linkStep != LinkSession::Step::None)
        fadeCycle(buffer, n, linkStep == LinkSession::Step::FadeIn);
}

// Around a jump of the transport: the cycle before it ends in silence and
// the one that starts with it rises from silence, so the jump never clicks.
void ZubEngine::fadeCycle(float* buffer, int n, bool fadeIn)
{
    const int frames = std::min(n, LinkSession::JUMP_FADE_FRAMES);
    const int first = fadeIn ? 0 : n - frames;
    for (int i = 0; i < frames; ++i) {
        const float step = float(i + 1) / float(frames);
        const float gain = fadeIn ? step : 1.0f - step;
        buffer[(first + i) * ZUB_FRAMESIZE] *= gain;
        buffer[(first + i) * ZUB_FRAMESIZE + 1] *= gain;
    }
}

// After a play the ideas wait, silent, for the next bar; they start on it at
// the loops' own phase.
void ZubEngine::mixIdeas(float* buffer, int n, int64 cycleStart, const BeatGrid& grid)
{
    if (m_pIdeaCollection->takeStartRequest())
        m_ideasStartFrame = nextBarFrame(cycleStart, grid);
    int skip = 0;
    if (m_ideasStartFrame >= 0) {
        if (m_ideasStartFrame >= cycleStart + n)
            return;
        skip = int(std::max<int64>(0, m_ideasStartFrame - cycleStart));
        m_pIdeaCollection->alignTo(cycleStart + skip, grid);
        m_ideasStartFrame = -1;
    }
    m_pIdeaCollection->process(buffer + skip * ZUB_FRAMESIZE, n - skip);
}

// Bars of four beats of the song's grid: the first bar start at or after frame.
int64 ZubEngine::nextBarFrame(int64 frame, const BeatGrid& grid)
{
    const int64 from = std::max<int64>(0, frame);
    int64 beat = grid.beatAt(from);
    if (grid.beatStart(beat) < from)
        ++beat;
    return grid.beatStart((beat + 3) / 4 * 4);
}

int ZubEngine::stopSong()
{
    if (m_pIdeaCollection->stop() != 0)
        return 1;
    m_pLoopRecorder->setRecord(false);
    logInfo() << "Song stopped";
    return 0;
}

int ZubEngine::playSong()
{
    if (m_pIdeaCollection->play() != 0)
        return 1;
    logInfo() << "Song plays from the next bar";
    return 0;
}

int64 ZubEngine::timelinePosition(int64 transportPos) const
{
    // While the tempo detector auditions its loop, the timeline is that loop.
    return m_pFreestyleTempoDetector->isActive() ? m_pFreestyleTempoDetector->playPosFrames() : transportPos;
}

void ZubEngine::alignToTransport()
{
    const int64 transportPos = m_pTransport->position();
    const int64 pos = timelinePosition(transportPos);
    const BeatGrid grid = m_pTransport->grid();
    m_pLoopRecorder->alignTo(pos, grid, transportPos);
    m_pIdeaCollection->alignTo(pos, grid);
    m_pMetronome->setPosition(pos);
    m_pTransport->restamp();
}

// The velocity is accepted and not passed on.
void ZubEngine::noteOn(int note, int velocity)
{
    (void)velocity;
    // Stamped with the audio position being played now, not with a clock
    // of their own, so that the notes sit where the audio is.
    const int64 frame = m_pTransport->frameNow();
    m_pInstrument->noteOn(note);
    m_pLoopRecorder->noteOn(note, frame);
    m_pFreestyleRecorder->noteOn(note, frame);
}

void ZubEngine::noteOff(int note)
{
    const int64 frame = m_pTransport->frameNow();
    m_pInstrument->noteOff(note);
    m_pLoopRecorder->noteOff(note, frame);
    m_pFreestyleRecorder->noteOff(note, frame);
}

bool ZubEngine::tempoHeldByLoops() const
{
    return songHasOwnLoops();
}

// Kept loops are their beats long at the song's tempo: another tempo would
// leave them off the click's grid.
bool ZubEngine::tempoRefusedByLoops(double bpm, const char* what) const
{
    if (std::abs(bpm - double(m_pTransport->bpm())) <= LinkSession::TEMPO_TOLERANCE || !tempoHeldByLoops())
        return false;
    logInfo() << "Kept loops hold the tempo at " << m_pTransport->bpm() << " bpm, " << what << " refused: " << bpm;
    return true;
}

int ZubEngine::setTempo(float bpm, TempoSource source)
{
    if (!(bpm >= ZUB_MIN_BPM && bpm <= ZUB_MAX_BPM)) {
        logInfo() << "Tempo out of range, ignored: " << bpm;
        return 1;
    }
    if (source != TempoSource::History
        && tempoRefusedByLoops(bpm, source == TempoSource::Session ? "tempo from the Link session" : "tempo"))
        return 1;
    if (!m_pDrumLoopPlayer->acceptsTempo(bpm)) {
        logInfo() << "Tempo too slow to re-time the drum loop, ignored: " << bpm;
        return 1;
    }
    // The tempo is saved with the song: a new one is a change to it.
    const bool changed = m_pProject->bpm() != double(bpm);
    m_pProject->setBpm(bpm);
    m_pTransport->setBpm(bpm);
    m_pMetronome->setTempo(bpm);
    // While the tempo detector owns the timeline its loop follows the drum
    // loop. With no drum loop the recorder is re-timed itself.
    const std::shared_ptr<Loop> timeline =
        m_pFreestyleTempoDetector->isActive() ? m_pFreestyleTempoDetector->loop() : nullptr;
    if (!m_pDrumLoopPlayer->retime(bpm, timeline))
        m_pLoopRecorder->setTempo(bpm, true);
    if (changed)
        m_pProject->setModified(true);
    return 0;
}

int ZubEngine::setSongTempo(float bpm)
{
    // The same tempo changes nothing worth a step.
    if (double(bpm) == m_pProject->bpm())
        return setTempo(bpm);
    return m_pHistory->perform("Change Tempo", [&](LoopRecorder::Content& taken) {
        if (!(bpm >= ZUB_MIN_BPM && bpm <= ZUB_MAX_BPM) || !m_pDrumLoopPlayer->acceptsTempo(bpm)
            || tempoHeldByLoops())
            return setTempo(bpm); // refused, with its log line
        if (m_pLoopRecorder->holdsRecording())
            taken = m_pLoopRecorder->takeContent();
        return setTempo(bpm);
    });
}

int ZubEngine::cloneIdea(int32 id)
{
    return m_pHistory->perform("Clone Idea", [&] { return m_pIdeaCollection->cloneIdea(id); });
}

void ZubEngine::clearLoopRecorder()
{
    if (!m_pLoopRecorder->holdsRecording()) {
        m_pLoopRecorder->clear();
        return;
    }
    m_pHistory->perform("Clear Recorder", [&](LoopRecorder::Content& taken) {
        taken = m_pLoopRecorder->takeContent();
        return taken.audio ? 0 : 1;
    });
}

namespace {

// The name of the step a command of the idea collection makes; empty when
// it only selects an idea.
std::string ideaEditName(const Json::Value& msg)
{
    // Commands that are not an object are refused below, as for any component.
    if (!msg.isObject())
        return {};
    if (msg.isMember("clear"))
        return "Clear Ideas";
    const Json::Value& ideas = msg["ideas"];
    if (!ideas.isArray() || ideas.size() != 1 || !ideas[0].isObject())
        return {};
    const Json::Value& idea = ideas[0];
    if (idea.isMember("_destroy"))
        return "Delete Idea";
    const Json::Value& loops = idea["loops"];
    for (Json::ArrayIndex i = 0; loops.isArray() && i < loops.size(); ++i) {
        if (!loops[i].isObject())
            continue;
        if (loops[i].isMember("_destroy"))
            return "Remove Loop";
        if (loops[i].isMember("mute"))
            return JsonField::toBool(loops[i]["mute"], false) ? "Mute Loop" : "Unmute Loop";
    }
    if (idea.isMember("name"))
        return "Rename Idea";
    if (idea.isMember("mute"))
        return JsonField::toBool(idea["mute"], false) ? "Mute Idea" : "Unmute Idea";
    return "Edit Idea";
}

} // namespace

bool ZubEngine::editIdeas(const Json::Value& root)
{
    const std::string name = ideaEditName(root["idea_collection"]);
    if (name.empty())
        return m_pIdeaCollection->handleJson(root);
    bool deleted = false;
    m_pHistory->perform(name, [&] {
        deleted = m_pIdeaCollection->handleJson(root);
        return 0;
    });
    return deleted;
}

int ZubEngine::undo()
{
    return m_pHistory->undo();
}

int ZubEngine::redo()
{
    return m_pHistory->redo();
}

void ZubEngine::setLinkEnabled(bool enabled)
{
    m_fLinkLocalBpm = m_pTransport->bpm();
    m_bLinkLocalPlaying = !m_pIdeaCollection->isStopped();
    m_pLinkSession->setEnabled(enabled, m_pTransport->bpm());
}

void ZubEngine::setLinkStartStopSync(bool sync)
{
    m_bLinkLocalPlaying = !m_pIdeaCollection->isStopped();
    m_pLinkSession->setStartStopSync(sync);
}

void ZubEngine::followLink()
{
    if (m_pLinkSession->isEnabled()) {
        if (NativeAudioInterface* audio = m_pAudioInterface)
            m_pLinkSession->setOutputLatencyMicros(std::llround(audio->outputLatency() * 1e6));
        followSessionTempo();
        if (m_pLinkSession->startStopSync())
            followSessionPlaying();
    }
    std::string state = linkStateJson();
    if (state == m_linkStatePosted || !m_pJsBridge)
        return;
    m_pJsBridge->deliverMessage(state);
    m_linkStatePosted = std::move(state);
}

// A tempo changed here since the last look leads the session; otherwise the
// song takes the session's. Kept loops refuse it, and the session then gets
// the song's tempo back.
void ZubEngine::followSessionTempo()
{
    const float local = m_pTransport->bpm();
    const double session = m_pLinkSession->sessionTempo();
    if (local != m_fLinkLocalBpm)
        m_pLinkSession->proposeTempo(local);
    else if (std::abs(session - double(local)) > LinkSession::TEMPO_TOLERANCE
             && setTempo(float(session), TempoSource::Session) != 0)
        m_pLinkSession->proposeTempo(local);
    m_fLinkLocalBpm = m_pTransport->bpm();
}

void ZubEngine::followSessionPlaying()
{
    const bool playing = !m_pIdeaCollection->isStopped();
    if (playing != m_bLinkLocalPlaying)
        m_pLinkSession->proposePlaying(playing);
    else if (m_pLinkSession->sessionPlaying() != playing) {
        playing ? stopSong() : playSong();
        // The page shows Play or Stop from the idea collection's state.
        if (m_pJsBridge) {
            Json::Value root(Json::objectValue);
            m_pIdeaCollection->toJson(root);
            m_pJsBridge->deliverMessage(JsonField::styled(root));
        }
    }
    m_bLinkLocalPlaying = !m_pIdeaCollection->isStopped();
}

std::string ZubEngine::linkStateJson() const
{
    const LinkSession& link = *m_pLinkSession;
    const double tempo = link.isEnabled() ? link.sessionTempo() : double(m_pTransport->bpm());
    char text[64];
    std::snprintf(text, sizeof text, "%.3f", tempo);
    return std::string("{ \"link\" : { \"enabled\" : ") + (link.isEnabled() ? "true" : "false")
        + ", \"start_stop_sync\" : " + (link.startStopSync() ? "true" : "false")
        + ", \"peers\" : " + std::to_string(link.numPeers()) + ", \"tempo\" : " + text + " } }";
}

Idea* ZubEngine::ideaForNewLoop()
{
    Idea* idea = m_pIdeaCollection->activeIdeaMadeIfNone();
    if (!idea)
        logInfo() << "No active idea to take the new loop";
    return idea;
}

// Undone, the loop leaves the idea and its audio goes back into the recorder.
int ZubEngine::createLoopFromLoopRecorder()
{
    if (!m_pLoopRecorder->holdsRecording()) {
        logInfo() << "The loop recorder holds nothing to keep";
        return 1;
    }
    return m_pHistory->perform("Keep Loop", [&](LoopRecorder::Content& taken) {
        Idea* idea = ideaForNewLoop();
        if (!idea)
            return 1;
        std::shared_ptr<Loop> loop = m_pLoopPool->createLoop();
        if (!loop)
            return 1;
        taken = m_pLoopRecorder->moveInto(*loop);
        idea->addLoop(loop);
        m_pProject->setModified(true);
        return 0;
    });
}

int ZubEngine::createLoopFromFreestyleTempoDetector()
{
    return m_pHistory->perform("Keep Take", [&] { return keepFreestyleLoop(); });
}

int ZubEngine::keepFreestyleLoop()
{
    const std::shared_ptr<Loop> loop = m_pFreestyleTempoDetector->loop();
    // The take brings its tempo to the song; refused, it stays where it is.
    if (loop && tempoRefusedByLoops(m_pFreestyleTempoDetector->tempo(), "the take's tempo"))
        return 1;
    m_pFreestyleTempoDetector->suspend();
    if (!loop) {
        logInfo() << "No freestyle loop to take over";
        return 1;
    }
    Idea* idea = ideaForNewLoop();
    if (!idea)
        return 1;
    // The loop now belongs to the song: later takes and attempts must not
    // overwrite, mute or re-cut it.
    m_pFreestyleRecorder->releaseTake(loop);
    m_pFreestyleTempoDetector->setLoop(nullptr);
    loop->setPlaying(true);
    loop->setPlayMode(0);
    idea->addLoop(loop);
    const float bpm = m_pFreestyleTempoDetector->tempo();
    const bool retimeDrums = m_pDrumLoopPlayer->loop() && bpm != m_pTransport->bpm();
    followFreestyleLoop(*loop, bpm);
    // A playing drum loop goes on at the take's tempo, on the take's beats,
    // as it does for any other change of the song's tempo.
    if (retimeDrums)
        m_pDrumLoopPlayer->retime(bpm, loop);
    m_pProject->setModified(true);
    return 0;
}

// Metronome, transport and loop recorder take the loop's tempo and phase;
// the loop recorder keeps its beat count. The project's tempo stays.
void ZubEngine::followFreestyleLoop(const Loop& loop, float bpm)
{
    const int64 frames = loop.numFrames();
    const int64 beats = std::max(1, loop.numBeats());
    m_pMetronome->setTempo(bpm);
    // A take snapped to the tapped tempo is its beats long on that tempo's
    // grid; one never snapped has the click divide it instead.
    if (!BeatGrid(bpm).fits(beats, frames))
        m_pMetronome->setFramesPerBeat(int(frames / beats));
    const int64 pos = loop.playPosOffset() / ZUB_FRAMESIZE;
    m_pTransport->setBpm(bpm);
    m_pTransport->setPosition(pos);
    m_pLoopRecorder->setTempo(bpm, false);
    const int oldBeats = m_pLoopRecorder->numBeats();
    logDebug() << "old loop recorder num beats:" << oldBeats;
    m_pLoopRecorder->setLengthSamples(ZUB_FRAMESIZE * frames);
    m_pLoopRecorder->setNumBeats(oldBeats);
    m_pLoopRecorder->setPlayPosFrames(static_cast<uint32_t>(pos));
}

void ZubEngine::clearProject()
{
    m_pHistory->clear();
    m_pDrumLoopPlayer->clear();
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
        logInfo() << "No drum loop at index " << index << ", ignored";
        return 1;
    }
    return loadDrumLoopByName(info->fileName().c_str());
}

void ZubEngine::playDrumLoop()
{
    if (!m_pDrumLoopPlayer->isLoaded())
        return;
    m_pHistory->perform("Play Drum Loop", [&] {
        startDrumLoop();
        return 0;
    });
}

void ZubEngine::startDrumLoop()
{
    // The drum loop plays at the song's tempo, so loops already kept stay in
    // time; only an empty song takes the drum loop's own tempo first.
    const float bpm = m_pDrumLoopPlayer->bpm();
    if (!songHasOwnLoops() && bpm >= ZUB_MIN_BPM && bpm <= ZUB_MAX_BPM) {
        m_pProject->setBpm(bpm);
        m_pTransport->setBpm(bpm);
        m_pMetronome->setTempo(bpm);
        // A new length empties the recorder; its beats may already fit.
        const bool fits = BeatGrid(bpm).fits(m_pLoopRecorder->numBeats(), m_pLoopRecorder->lengthFrames());
        m_pLoopRecorder->setTempo(bpm, !fits);
    }
    m_pDrumLoopPlayer->play();
}

bool ZubEngine::songHasOwnLoops() const
{
    const std::shared_ptr<Loop> drums = m_pDrumLoopPlayer->loop();
    for (const Idea* idea : m_pIdeaCollection->ideas())
        for (const std::shared_ptr<Loop>& loop : idea->loops())
            if (loop != drums)
                return true;
    return false;
}

void ZubEngine::stopDrumLoop()
{
    m_pHistory->perform("Stop Drum Loop", [&] {
        m_pDrumLoopPlayer->stop();
        return 0;
    });
}

void ZubEngine::clearDrumLoop()
{
    m_pHistory->perform("Clear Drum Loop", [&] {
        m_pDrumLoopPlayer->clear();
        return 0;
    });
}

int ZubEngine::renderToFile(std::FILE* file, const Renderer::Progress& progress)
{
    if (m_pIdeaCollection->ideas().empty()) {
        logError() << "Error: No idea to render. Make an first idea!";
        return 1;
    }
    Idea* idea = m_pIdeaCollection->activeIdea();
    if (!idea) {
        logError() << "Error: No idea to render. Make an idea and activate it first!";
        return 1;
    }
    int numLoops = 0;
    idea->maxLoopLengthFrames(&numLoops);
    if (numLoops == 0) {
        logError() << "Error: No loop to render. Make a loop in the first idea!";
        return 1;
    }
    SongSource section(*m_pIdeaCollection, idea->id());
    OfflineSection offline(*this);
    return Renderer::renderToWav(file, &section, section.lengthFrames(), 0.5f, progress);
}

int ZubEngine::renderSongToFile(std::FILE* file, const Renderer::Progress& progress)
{
    SongSource song(*m_pIdeaCollection);
    if (song.numSections() == 0) {
        logError() << "Error: No loop to render. Keep a loop in an idea first!";
        return 1;
    }
    OfflineSection offline(*this);
    return Renderer::renderToWav(file, &song, song.lengthFrames(), 0.5f, progress);
}

void ZubEngine::deliverWave(const std::string& member)
{
    if (m_pJsBridge)
        m_pJsBridge->deliverMessage("{ \"wave\" : { " + member + " } }");
}

int ZubEngine::renderToJs()
{
    logInfo() << "Rendering to JS...";
    const std::vector<Idea*> ideas = m_pIdeaCollection->ideas();
    if (ideas.empty()) {
        logError() << "Error: No idea to render. Make an first idea!";
        return 1;
    }
    int numLoops = 0;
    const int64 length = ideas.front()->maxLoopLengthFrames(&numLoops);
    if (numLoops == 0) {
        logError() << "Error: No loop to render. Make a loop in the first idea!";
        return 1;
    }
    {
        OfflineSection offline(*this);
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
        logInfo() << "loading input device id: " << id;
        const std::vector<std::string> names = m_pAudioManager ? m_pAudioManager->inputDeviceNames()
                                                                : std::vector<std::string>();
        if (device >= names.size()) {
            logInfo() << "No input device with id: " << id;
            return 1;
        }
        m_pAudioManager->setRecordingDevice(static_cast<int>(device));
        m_pInstrument->selectInputDevice(static_cast<int>(id), names[device]);
        m_pFreestyleRecorder->setInputMode(FreestyleRecorder::INPUT_AUDIO);
        return 0;
    }
    if (m_pAudioManager)
        m_pAudioManager->setRecordingDevice(-1);
    m_pFreestyleRecorder->setInputMode(FreestyleRecorder::INPUT_KEYS);
    const std::string dir = m_pInstrumentCollection->pathForId(static_cast<int>(id));
    m_pInstrument->loadFromDirectory(dir);
    logInfo() << "***loaded instrument on demand from " << dir;
    return 0;
}
