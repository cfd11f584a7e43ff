#include "loops/freestyletempodetector.h"

#include "core/beatgrid.h"
#include "core/componentcommands.h"
#include "core/jsonfield.h"
#include "core/log.h"
#include "core/midimessage.h"
#include "core/nativejsbridge.h"
#include "core/timedmidieventlist.h"
#include "loops/loop.h"
#include "loops/loopaudio.h"

#include <cmath>
#include <limits>
#include <utility>
#include <vector>

FreestyleTempoDetector::FreestyleTempoDetector()
    : m_savedLoop(std::make_shared<Loop>()) // private: never enters the pool
{
}

FreestyleTempoDetector::~FreestyleTempoDetector() = default;

void FreestyleTempoDetector::setLoop(std::shared_ptr<Loop> loop)
{
    if (loop) {
        logInfo() << "Saving original loop";
        // Shared, not copied: a loop's audio never changes in place.
        m_savedLoop->setAudio(loop->audio());
        m_savedLoop->setLength(loop->numFrames());
        m_savedLoop->setNotes(loop->notes());
        m_savedLoop->setNumBeats(loop->numBeats());
    } else {
        m_bActive = false;
    }
    std::shared_ptr<Loop> old;
    std::lock_guard lock(m_mutex);
    old = std::exchange(m_pLoop, std::move(loop));
    // The old take, if this was its last reference, goes after the lock.
}

std::shared_ptr<Loop> FreestyleTempoDetector::loop() const
{
    std::lock_guard lock(m_mutex);
    return m_pLoop;
}

std::shared_ptr<Loop> FreestyleTempoDetector::requireLoop(const char* what) const
{
    std::shared_ptr<Loop> current = loop();
    if (!current)
        logInfo() << "FreestyleTempoDetector: no take handed over yet, " << what << " ignored";
    return current;
}

void FreestyleTempoDetector::restoreSavedLoop(Loop& loop) const
{
    loop.setAudio(m_savedLoop->audio());
    loop.setLength(m_savedLoop->numFrames());
    loop.setNotes(m_savedLoop->notes());
    loop.setNumBeats(m_savedLoop->numBeats());
}

// Every attempt starts from the take as recorded; the take waits, silent, for
// the page to audition it.
void FreestyleTempoDetector::activate()
{
    logInfo() << "FreestyleTempoDetector activated.";
    const std::shared_ptr<Loop> take = requireLoop("initialize");
    if (!take)
        return;
    if (m_savedLoop->numFrames() != 0) {
        logInfo() << "Restoring original loop";
        restoreSavedLoop(*take);
    }
    standBy(*take, false, 1);
    if (m_pJsBridge) {
        Json::Value root(Json::objectValue);
        toJson(root);
        m_pJsBridge->postMessage(JsonField::styled(root));
    }
}

void FreestyleTempoDetector::suspend()
{
    logInfo() << "FreestyleTempoDetector suspended.";
    m_bActive = false;
}

void FreestyleTempoDetector::suspendAndRestoreLoopState()
{
    const std::shared_ptr<Loop> take = requireLoop("suspend_and_restore_loop_state");
    if (!take)
        return;
    logInfo() << "FreestyleTempoDetector suspended & restored loop state.";
    restoreSavedLoop(*take);
    standBy(*take, true, 0);
}

// The take is heard again (faded in) and the detector no longer drives it.
void FreestyleTempoDetector::standBy(Loop& take, bool playing, int playMode)
{
    take.setMute(false, false);
    take.setPlaying(playing);
    take.setPlayMode(playMode);
    m_bActive = false;
}

void FreestyleTempoDetector::playLoop(int playMode)
{
    const std::shared_ptr<Loop> take = requireLoop(playMode == 1 ? "play_loop_once" : "play_loop");
    if (!take)
        return;
    take->setPlayMode(playMode);
    take->setPlayPosOffset(0);
    take->setPlaying(true);
    m_bActive = true;
}

int FreestyleTempoDetector::snapBeats(double bpm, double seconds)
{
    // Compared in single precision, so that a span exactly between two
    // candidates is a tie, which the shorter one wins.
    const float spb = float(60.0 / bpm);
    float bestDifference = 100000000.0f;
    int beats = 1;
    for (int candidate = 1; candidate <= MAX_BEATS; candidate *= 2) {
        const float difference = std::fabs(float(candidate) * spb - float(seconds));
        if (difference < bestDifference) {
            bestDifference = difference;
            beats = candidate;
        }
    }
    return beats;
}

int FreestyleTempoDetector::setLoopLengthByTempo(double bpm, double seconds)
{
    const std::shared_ptr<Loop> take = requireLoop("setLoopLengthByTempo");
    if (!take)
        return 1;
    if (!(bpm >= ZUB_MIN_BPM && bpm <= ZUB_MAX_BPM) || !(seconds >= 0.0)
        || seconds > std::numeric_limits<float>::max()) {
        logInfo() << "FreestyleTempoDetector: refusing tempo " << bpm << " over " << seconds << " seconds";
        return 1;
    }
    m_fTempo = float(bpm);
    logInfo() << "setLoopLengthByTempo " << bpm << " " << seconds;
    const int beats = snapBeats(bpm, seconds);
    logInfo() << "snapping to " << beats << " beats.";
    // Exactly the beats at the tempo the transport will take over (a float).
    const int64 newFrames = BeatGrid(m_fTempo).framesForBeats(beats);
    foldAudio(*take, newFrames);
    take->setNumBeats(beats);
    moveNotes(*take, newFrames);
    return 0;
}

// The loop becomes newFrames long: a shorter take is padded with silence,
// and audio past the new end is added onto the start, so nothing played is
// lost. Growing the take to the tapped span first would add only silence
// past the end, so the take itself is folded.
void FreestyleTempoDetector::foldAudio(Loop& loop, int64 newFrames) const
{
    const int64 oldFrames = loop.numFrames();
    const int64 playPos = loop.playPosOffset();
    std::vector<float> folded(std::size_t(newFrames) * ZUB_FRAMESIZE, 0.0f);
    const std::shared_ptr<const LoopAudio> kept = loop.audio();
    const float* audio = kept ? kept->data() : nullptr;
    for (int64 k = 0; k < oldFrames; ++k) {
        float* to = folded.data() + ZUB_FRAMESIZE * (k % newFrames);
        to[0] += audio[ZUB_FRAMESIZE * k];
        to[1] += audio[ZUB_FRAMESIZE * k + 1];
    }
    loop.copyFrom(folded.data(), uint32_t(newFrames), 0);
    // A loop being auditioned while the taps arrive keeps its place.
    loop.setPlayPosOffset(playPos % (ZUB_FRAMESIZE * newFrames));
}

// Events past the new end move to their time modulo the new length, in time
// order. A note whose note off moves while its note on stays (or wraps to a
// later time) is split: it ends just before the loop's end and starts again
// at 0.
void FreestyleTempoDetector::moveNotes(Loop& loop, int64 newFrames)
{
    const int64 lengthUs = framesToMicroseconds(newFrames);
    if (lengthUs <= 0)
        return;
    const TimedMidiEventList original = loop.notes();
    TimedMidiEventList moved;
    for (const auto& [time, message] : original.events())
        if (time <= lengthUs)
            moved.addEvent(time, message);
    int64 pendingOn[MIDI_NUM_NOTES];
    std::fill(std::begin(pendingOn), std::end(pendingOn), -1);
    for (const auto& [time, message] : original.events()) {
        if (time <= lengthUs)
            continue;
        const int64 newTime = time % lengthUs;
        const int note = message.note();
        if (message.isNoteOff() && (pendingOn[note] == -1 || pendingOn[note] > newTime)) {
            logDebug() << "Splitting a note off in FSTD";
            moved.addEvent(lengthUs - 1, message);
            moved.addEvent(0, MidiMessage::noteOn(message.velocity(), note, 0));
        }
        if (message.isNoteOn())
            pendingOn[note] = newTime;
        else if (message.isNoteOff())
            pendingOn[note] = -1;
        moved.addEvent(newTime, message);
        logDebug() << "moved event to " << newTime << " of " << lengthUs;
    }
    loop.setNotes(moved);
}

void FreestyleTempoDetector::process(float* out, int numFrames)
{
    if (!m_bActive)
        return;
    std::lock_guard lock(m_mutex);
    if (!m_pLoop)
        return;
    m_pLoop->process(out, numFrames);
    // A pass played once has ended: the song's own position takes over again.
    if (!m_pLoop->isPlaying())
        m_bActive = false;
}

int64 FreestyleTempoDetector::playPosFrames() const
{
    std::lock_guard lock(m_mutex);
    return m_pLoop ? m_pLoop->playPosOffset() / ZUB_FRAMESIZE : 0;
}

void FreestyleTempoDetector::toJson(Json::Value& root) const
{
    Json::Value loops(Json::arrayValue);
    if (const std::shared_ptr<Loop> take = loop())
        loops.append(take->toJson());
    root["freestyle_tempo_detector"]["loops"] = loops;
}

void FreestyleTempoDetector::handleJson(const Json::Value& root)
{
    const Json::Value* commands = takeComponentCommands(root, "freestyle_tempo_detector", *this);
    if (!commands)
        return;
    const Json::Value& msg = *commands;
    if (msg.isMember("suspend_and_restore_loop_state"))
        suspendAndRestoreLoopState();
    if (msg.isMember("play_loop_once"))
        playLoop(1);
    if (msg.isMember("play_loop"))
        playLoop(0);
    if (msg.isMember("bpm") && msg.isMember("first_to_last_tap_time")) {
        const double nan = std::numeric_limits<double>::quiet_NaN();
        const double bpm = JsonField::toDouble(msg["bpm"], nan);
        const double tapMs = JsonField::toDouble(msg["first_to_last_tap_time"], nan);
        // The tapped span plus the beat after the last tap.
        setLoopLengthByTempo(bpm, tapMs / 1000.0 + 60.0 / bpm);
    }
}
