#include "loops/freestylerecorder.h"

#include "core/componentcommands.h"
#include "core/jsonfield.h"
#include "core/log.h"
#include "core/stateposter.h"
#include "loops/freestyletempodetector.h"
#include "loops/loop.h"
#include "loops/looppool.h"
#include "loops/midirecorder.h"
#include "loops/takecopier.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace {

enum Status { STATUS_IDLE, STATUS_WAITING, STATUS_RECORDING, STATUS_SUSPENDED };
const char* const kStatusNames[] = { "Idle", "Waiting", "Recording", "Suspended" };

constexpr double kLowPassCoefficient = 0.2;
constexpr double kTriggerNoiseFactor = 100.0;
// Room for the notes of a full take plus the note-offs (and splits) of keys
// still held when the limit was reached.
constexpr std::size_t kTakeEventRoom = FreestyleRecorder::MAX_TAKE_EVENTS + 4 * MIDI_NUM_NOTES;

double magnitude(const float* frame)
{
    return std::sqrt(double(frame[0]) * frame[0] + double(frame[1]) * frame[1]);
}

} // namespace

FreestyleRecorder::FreestyleRecorder(LoopPool* loopPool, FreestyleTempoDetector* tempoDetector)
    : m_pTempoDetector(tempoDetector)
    , m_pLoopPool(loopPool)
    , m_status(STATUS_SUSPENDED)
{
    // Takes are recorded into the copier's buffers; only the notes are kept here.
    m_midiRecorder.setLoopLengthUs(framesToMicroseconds(BUFFER_FRAMES));
    for (int i = 0; i < NUM_TAKES; ++i)
        m_loops.push_back(makeTake());
    m_pCopier = std::make_unique<TakeCopier>([this] { return oldestTake(); },
        [this](const std::shared_ptr<Loop>& take) { makeNewest(take); }, kTakeEventRoom);
    m_pPoster = std::make_unique<StatePoster>([this](int status) { return stateText(status); });
    suspend();
}

FreestyleRecorder::~FreestyleRecorder()
{
    m_pPoster.reset();
    m_pCopier.reset();
}

// A take loop gets its audio buffer from the copier, sized to the take.
std::shared_ptr<Loop> FreestyleRecorder::makeTake() const
{
    std::shared_ptr<Loop> take = m_pLoopPool->createLoop();
    if (!take)
        take = std::make_shared<Loop>(); // every id taken: a take outside the pool
    take->setMute(true, true);
    return take;
}

// Copier thread: the loop the next take overwrites.
std::shared_ptr<Loop> FreestyleRecorder::oldestTake() const
{
    std::lock_guard lock(m_mutex);
    return m_loops.back();
}

// Copier thread: the take is whole in its loop, which becomes the newest. A
// loop released meanwhile has left the ring and stays out of it.
void FreestyleRecorder::makeNewest(const std::shared_ptr<Loop>& take)
{
    std::lock_guard lock(m_mutex);
    const auto it = std::find(m_loops.begin(), m_loops.end(), take);
    if (it != m_loops.end())
        std::rotate(m_loops.begin(), it, it + 1);
}

void FreestyleRecorder::process(float* out, int numFrames)
{
    std::lock_guard lock(m_mutex);
    if (!m_bActive)
        return;
    for (const auto& take : m_loops)
        take->process(out, numFrames);
}

void FreestyleRecorder::record(float* in, int numFrames)
{
    recordLate(in, nullptr, numFrames, 0);
}

void FreestyleRecorder::recordLate(float* in, const float* live, int numFrames, int64 lateFrames)
{
    if (numFrames <= 0)
        return;
    std::lock_guard lock(m_mutex);
    // The floor a sound must rise above is the input before this block: an
    // onset counted into its own floor would rarely clear a hundred times it.
    const double threshold = kTriggerNoiseFactor * m_dNoise + m_dLevel;
    analyseInput(in, numFrames);
    if (m_state == STATE_IDLE && m_inputMode == INPUT_AUDIO)
        waitForSignal(in, numFrames, threshold);
    captureLate(in, live, numFrames, live ? lateFrames : 0);
}

// Keeps what was heard besides the live input in the ring, and captures the
// live input with what was heard when it was played.
void FreestyleRecorder::captureLate(const float* in, const float* live, int numFrames, int64 lateFrames)
{
    const int64 ringFrames = int64(m_heard.size()) / ZUB_FRAMESIZE;
    const bool recording = m_state == STATE_RECORDING && m_pCapture;
    if (ringFrames == 0) {
        if (recording) {
            capture(in, numFrames);
            endIfSilent(in, numFrames);
        }
        return;
    }
    const int64 late = std::clamp<int64>(lateFrames, 0, ringFrames - 1);
    for (int done = 0; done < numFrames;) {
        const int n = std::min(numFrames - done, ALIGN_FRAMES);
        for (int i = 0; i < n; ++i) {
            const int64 k = done + i;
            const int64 at = ZUB_FRAMESIZE * ((m_heardPos + k) % ringFrames);
            const int64 from = ZUB_FRAMESIZE * ((m_heardPos + k + ringFrames - late) % ringFrames);
            for (int c = 0; c < ZUB_FRAMESIZE; ++c) {
                const float l = live ? live[ZUB_FRAMESIZE * k + c] : 0.0f;
                m_heard[at + c] = in[ZUB_FRAMESIZE * k + c] - l;
                m_aligned[ZUB_FRAMESIZE * i + c] = l + m_heard[from + c];
            }
        }
        if (recording)
            capture(m_aligned, n);
        done += n;
    }
    m_heardPos = (m_heardPos + numFrames) % ringFrames;
    if (recording)
        endIfSilent(in, numFrames);
}

// Smoothed level of the low-passed input, and how far the raw input stands
// above it (noise and transients).
void FreestyleRecorder::analyseInput(const float* in, int numFrames)
{
    double sumLevel = 0.0;
    double sumExcess = 0.0;
    for (int i = 0; i < numFrames; ++i) {
        const float* frame = in + ZUB_FRAMESIZE * i;
        m_yL += (frame[0] - m_yL) * kLowPassCoefficient;
        m_yR += (frame[1] - m_yR) * kLowPassCoefficient;
        const double e = std::sqrt(m_yL * m_yL + m_yR * m_yR);
        sumLevel += e;
        sumExcess += magnitude(frame) - e;
    }
    m_dLevel = (m_dLevel + sumLevel / numFrames) * 0.5;
    m_dNoise = (m_dNoise + sumExcess / numFrames) * 0.5;
}

// Live input, idle: nothing starts during the first second, while the level
// and noise estimates settle; then the first frame above the trigger
// threshold starts a take. Returns true when a take started.
bool FreestyleRecorder::waitForSignal(const float* in, int numFrames, double threshold)
{
    if (m_waitFrames < SETTLING_FRAMES) {
        m_waitFrames += uint64_t(numFrames);
        if (m_waitFrames < SETTLING_FRAMES)
            return false;
        setStatus(STATUS_IDLE);
    }
    for (int i = 0; i < numFrames; ++i) {
        if (magnitude(in + ZUB_FRAMESIZE * i) > threshold)
            return startTake(m_takeOriginFrame.load()); // live input stamps no notes
    }
    return false;
}

void FreestyleRecorder::capture(const float* in, int numFrames)
{
    // A take ends at the buffer's end rather than wrapping over its start.
    const int fit = int(std::min<int64>(numFrames, BUFFER_FRAMES - m_framesRecorded));
    float* dst = m_pCapture + int64(ZUB_FRAMESIZE) * m_framesRecorded;
    for (int i = 0; i < ZUB_FRAMESIZE * fit; ++i)
        dst[i] += in[i];
    m_framesRecorded += fit;
}

// After a block is captured: more than a second of silence, or a full
// buffer, ends the take.
void FreestyleRecorder::endIfSilent(const float* in, int numFrames)
{
    double level = m_dLevel;
    if (m_inputMode != INPUT_AUDIO) {
        double sumLeft = 0.0, sumRight = 0.0;
        for (int i = 0; i < numFrames; ++i) {
            sumLeft += std::fabs(in[ZUB_FRAMESIZE * i]);
            sumRight += std::fabs(in[ZUB_FRAMESIZE * i + 1]);
        }
        level = sumLeft + sumRight;
    }
    m_silentFrames = level < SILENCE_THRESHOLD ? m_silentFrames + uint64_t(numFrames) : 0;
    if (m_silentFrames > SILENCE_FRAMES || m_framesRecorded >= BUFFER_FRAMES) {
        m_silentFrames = 0;
        storeTake();
        goIdle(true);
    }
}

// Returns false when no take buffer is free: none made yet, or both still
// being copied.
bool FreestyleRecorder::startTake(int64 originFrame)
{
    m_pCapture = m_pCopier->beginTake();
    if (!m_pCapture)
        return false;
    m_framesRecorded = 0;
    m_silentFrames = 0;
    m_state = STATE_RECORDING;
    m_takeOriginFrame = originFrame;
    m_midiRecorder.setRecord(true);
    setStatus(STATUS_RECORDING);
    return true;
}

// The take, with the silence that ended it, goes to the copier, which makes
// it the newest take loop, playing from position 0. Swaps buffers only: the
// audio thread copies nothing.
void FreestyleRecorder::storeTake()
{
    if (m_framesRecorded > 0)
        m_pCopier->endTake(m_framesRecorded, m_midiRecorder);
    else
        m_pCopier->cancelTake();
    // Notes still held end with the take (the copier closes them); their keys
    // start nothing more.
    m_midiRecorder.reset();
    m_pCapture = nullptr;
    m_framesRecorded = 0;
}

void FreestyleRecorder::goIdle(bool muteTakes)
{
    m_state = STATE_IDLE;
    // Keys played between takes are not notes of either take.
    m_midiRecorder.setRecord(false);
    m_waitFrames = 0;
    if (muteTakes)
        for (const auto& take : m_loops)
            take->setMute(true, true);
    setStatus(m_inputMode == INPUT_AUDIO ? STATUS_WAITING : STATUS_IDLE);
}

void FreestyleRecorder::setStatus(int status)
{
    m_status = status;
    m_pPoster->request(status);
}

int64 FreestyleRecorder::noteTimeUs(int64 transportFrame) const
{
    return framesToMicroseconds(std::clamp<int64>(transportFrame - m_takeOriginFrame.load(), 0, BUFFER_FRAMES - 1));
}

void FreestyleRecorder::noteOn(int note, int64 transportFrame)
{
    if (m_inputMode == INPUT_AUDIO)
        return;
    std::lock_guard lock(m_mutex);
    if (m_state == STATE_IDLE && !startTake(transportFrame)) {
        logInfo() << "FreestyleRecorder: no take buffer is free, note " << note << " not recorded";
        return;
    }
    if (m_midiRecorder.numEvents() >= MAX_TAKE_EVENTS) {
        logInfo() << "FreestyleRecorder: the take holds " << MAX_TAKE_EVENTS << " note events, note "
                  << note << " not recorded";
        return;
    }
    m_midiRecorder.noteOn(note, noteTimeUs(transportFrame));
}

void FreestyleRecorder::noteOff(int note, int64 transportFrame)
{
    m_midiRecorder.noteOff(note, noteTimeUs(transportFrame));
}

void FreestyleRecorder::setInputMode(int inputMode)
{
    if (inputMode != INPUT_KEYS && inputMode != INPUT_AUDIO) {
        logInfo() << "FreestyleRecorder: unknown input mode refused: " << inputMode;
        return;
    }
    std::lock_guard lock(m_mutex);
    if (m_inputMode.exchange(inputMode) == inputMode || m_state != STATE_IDLE)
        return;
    // A new input settles afresh before it can start a take.
    m_waitFrames = 0;
    setStatus(inputMode == INPUT_AUDIO ? STATUS_WAITING : STATUS_IDLE);
}

void FreestyleRecorder::setJsBridge(NativeJsBridge* bridge)
{
    m_pPoster->setJsBridge(bridge);
}

void FreestyleRecorder::activate()
{
    logInfo() << "FreestyleRecorder activated.";
    // Made here, never on the audio thread, and only once the recorder is used.
    m_pCopier->allocate(BUFFER_FRAMES);
    std::vector<float> heard(std::size_t(MAX_LATENESS_FRAMES + 1) * ZUB_FRAMESIZE, 0.0f);
    std::lock_guard lock(m_mutex);
    if (m_heard.empty())
        m_heard.swap(heard);
    // Already active and mid-take: what was played is kept, as on suspending.
    if (m_state == STATE_RECORDING)
        storeTake();
    m_bActive = true;
    // Back from the tempo detector, the takes stay as it left them: the take
    // it gave back is heard again. Otherwise nothing auditions at first.
    goIdle(!std::exchange(m_bLentToDetector, false));
}

void FreestyleRecorder::suspend()
{
    logInfo() << "FreestyleRecorder suspended.";
    std::lock_guard lock(m_mutex);
    // What was played so far is kept as a take rather than left in the buffer.
    if (m_state == STATE_RECORDING)
        storeTake();
    m_framesRecorded = 0;
    m_bActive = false;
    m_midiRecorder.setRecord(false);
    m_state = STATE_SUSPENDED;
    m_bLentToDetector = false;
    setStatus(STATUS_SUSPENDED);
}

int FreestyleRecorder::releaseTake(const std::shared_ptr<Loop>& take)
{
    // Made before the lock: the audio thread must not wait for the allocation.
    std::shared_ptr<Loop> fresh = makeTake();
    // A take still on its way into this loop would land in the released one.
    m_pCopier->flush();
    std::lock_guard lock(m_mutex);
    const auto it = std::find(m_loops.begin(), m_loops.end(), take);
    if (!take || it == m_loops.end())
        return 1;
    *it = std::move(fresh);
    return 0;
}

int FreestyleRecorder::state() const
{
    std::lock_guard lock(m_mutex);
    return m_state;
}

std::string FreestyleRecorder::status() const
{
    std::lock_guard lock(m_mutex);
    return kStatusNames[m_status];
}

std::vector<std::shared_ptr<Loop>> FreestyleRecorder::takes() const
{
    m_pCopier->flush();
    std::lock_guard lock(m_mutex);
    return m_loops;
}

void FreestyleRecorder::pauseTakeCopies(bool paused)
{
    m_pCopier->setPaused(paused);
}

void FreestyleRecorder::flushStatePushes()
{
    m_pPoster->flush();
}

// The loops are read without this recorder's lock, so that building the
// state never holds up the audio thread.
Json::Value FreestyleRecorder::stateJson(int status) const
{
    Json::Value state(Json::objectValue);
    Json::Value loops(Json::arrayValue);
    const std::vector<std::shared_ptr<Loop>> ring = takes();
    // The oldest take is the next to be overwritten: it is not offered.
    for (std::size_t i = 0; i + 1 < ring.size(); ++i) {
        if (!ring[i]->isEmpty() || !ring[i]->notes().events().empty())
            loops.append(ring[i]->toJson());
    }
    state["loops"] = loops;
    state["status"] = kStatusNames[status];
    return state;
}

std::string FreestyleRecorder::stateText(int status) const
{
    Json::Value root(Json::objectValue);
    root["freestyle_recorder"] = stateJson(status);
    return JsonField::styled(root);
}

void FreestyleRecorder::toJson(Json::Value& root) const
{
    int status;
    {
        std::lock_guard lock(m_mutex);
        status = m_status;
    }
    root["freestyle_recorder"] = stateJson(status);
}

void FreestyleRecorder::handleJson(const Json::Value& root)
{
    const Json::Value* commands = takeComponentCommands(root, "freestyle_recorder", *this);
    if (!commands)
        return;
    const Json::Value& msg = *commands;
    if (msg.isMember("do_tempo_detection"))
        doTempoDetection();
    if (msg.isMember("loops"))
        applyLoopEntries(msg["loops"]);
    if (msg.isMember("playing_loop_id")) {
        const long long id = JsonField::toInt64(msg["playing_loop_id"], -1);
        if (id < 0)
            logInfo() << "FreestyleRecorder: playing_loop_id is not a loop id";
        else
            solo(id);
    }
}

// The first take that is heard goes to the tempo detector; with every take
// muted the detector keeps the take it had.
void FreestyleRecorder::doTempoDetection()
{
    std::shared_ptr<Loop> chosen;
    for (const auto& take : takes()) {
        if (!take->isMuted()) {
            chosen = take;
            break;
        }
    }
    if (chosen)
        m_pTempoDetector->setLoop(chosen);
    else
        logInfo() << "FreestyleRecorder: no take is playing, none handed to the tempo detector";
    m_pTempoDetector->activate();
    suspend();
    std::lock_guard lock(m_mutex);
    m_bLentToDetector = true;
}

std::shared_ptr<Loop> FreestyleRecorder::findTake(long long id) const
{
    for (const auto& take : takes())
        if (take->id() == id)
            return take;
    return {};
}

void FreestyleRecorder::applyLoopEntries(const Json::Value& entries)
{
    if (!entries.isArray())
        return;
    for (const Json::Value& entry : entries) {
        const std::shared_ptr<Loop> take = entry.isObject() ? findTake(JsonField::toInt64(entry["id"], -1)) : nullptr;
        if (!take) {
            logInfo() << "FreestyleRecorder: no take with the id of a loops entry";
            continue;
        }
        take->fromJson(entry);
        if (!take->isMuted())
            take->setPlayPosOffset(0);
    }
}

void FreestyleRecorder::solo(long long id)
{
    if (!findTake(id))
        logInfo() << "FreestyleRecorder: no take with id " << id << " to play";
    for (const auto& take : takes()) {
        if (take->id() == id) {
            take->setMute(false, true);
        } else {
            take->setPlayPosOffset(0);
            take->setMute(true, true);
        }
    }
}
