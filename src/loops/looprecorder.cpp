#include "loops/looprecorder.h"

#include "core/alignedfloats.h"
#include "core/componentcommands.h"
#include "core/jsonfield.h"
#include "core/log.h"
#include "loops/loop.h"
#include "loops/loopaudio.h"
#include "loops/midirecorder.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <functional>

namespace {

constexpr double kSamplesPerSecond = double(ZUB_SAMPLE_RATE) * ZUB_FRAMESIZE;
constexpr int64 kInitialLengthSamples = 705600; // 16 beats at 120 bpm
// Samples copied under one hold of the lock when the content is copied.
constexpr int64 kCopyPieceSamples = 16384;

double samplesPerBeat(double bpm)
{
    return kSamplesPerSecond / (bpm / 60.0);
}

// The power of two nearest in the logarithmic sense: 3 -> 4, 5 -> 4, 6 -> 8.
int32 roundedBeats(double lengthSamples, double spb)
{
    const double beats = std::max(1.0, std::floor(lengthSamples / spb + 0.5));
    logDebug() << "loop recorder number of beats calulcated as: " << beats;
    const int32 rounded = int32(std::pow(2.0, std::floor(std::log2(beats) + 0.5)));
    logDebug() << "loop recorder number of beats log2 rounded to: " << rounded;
    return rounded;
}

bool isPowerOfTwoOfAtLeast2(long long beats)
{
    return beats >= 2 && (beats & (beats - 1)) == 0;
}

} // namespace

LoopRecorder::LoopRecorder()
    : m_pMidiRecorder(std::make_unique<MidiRecorder>())
{
    m_pMidiRecorder->setLoopLengthUs(8000000);
    setLengthSamples(kInitialLengthSamples);
}

LoopRecorder::~LoopRecorder()
{
    freeAlignedFloats(m_pBuffer);
}

void LoopRecorder::process(float* out, int numFrames)
{
    std::lock_guard lock(m_mutex);
    m_frameCounter += numFrames;
    const uint32_t n = uint32_t(ZUB_FRAMESIZE) * uint32_t(std::max(numFrames, 0));
    if (!m_bSuspended) {
        uint32_t src = m_posSamples;
        for (uint32_t i = 0; i < n; ++i) {
            out[i] += m_pBuffer[src];
            if (++src == m_lengthSamples)
                src = 0;
        }
    }
    m_posSamples = uint32_t((uint64_t(m_posSamples) + n) % m_lengthSamples);
}

void LoopRecorder::record(float* in, int numFrames)
{
    std::lock_guard lock(m_mutex);
    if (!m_bRecord || numFrames <= 0)
        return;
    const uint32_t n = uint32_t(ZUB_FRAMESIZE) * uint32_t(numFrames);
    mixIn(in, n, m_posSamples);
    // Heard only through the playback, never twice.
    if (!m_bSuspended)
        std::fill(in, in + n, 0.0f);
}

void LoopRecorder::mixIn(const float* in, uint32_t numSamples, uint32_t dst)
{
    bool audible = false;
    for (uint32_t i = 0; i < numSamples; ++i) {
        m_pBuffer[dst] += in[i];
        audible = audible || in[i] != 0.0f;
        if (++dst == m_lengthSamples)
            dst = 0;
    }
    m_bHoldsAudio = m_bHoldsAudio || audible;
}

void LoopRecorder::recordLate(float* in, int numFrames, int64 lateFrames)
{
    std::lock_guard lock(m_mutex);
    if (lateFrames <= 0) {
        record(in, numFrames);
        return;
    }
    if (!m_bRecord || numFrames <= 0)
        return;
    // Input less than a cycle late would land where this cycle's playback
    // has yet to read and be heard twice; no device's round trip is shorter.
    const uint64_t late = uint64_t(std::max<int64>(lateFrames, numFrames)) * ZUB_FRAMESIZE % m_lengthSamples;
    const uint32_t n = uint32_t(ZUB_FRAMESIZE) * uint32_t(numFrames);
    mixIn(in, n, uint32_t((uint64_t(m_posSamples) + m_lengthSamples - late) % m_lengthSamples));
}

void LoopRecorder::setRecord(bool record)
{
    std::lock_guard lock(m_mutex);
    m_bRecord = record;
    m_pMidiRecorder->setRecord(record, positionUsLocked());
}

bool LoopRecorder::isRecording() const
{
    std::lock_guard lock(m_mutex);
    return m_bRecord;
}

bool LoopRecorder::holdsRecording() const
{
    std::lock_guard lock(m_mutex);
    return holdsRecordingLocked();
}

// Audible audio, or notes (an instrument that makes no sound still leaves them).
bool LoopRecorder::holdsRecordingLocked() const
{
    return m_bHoldsAudio || !m_pMidiRecorder->events().events().empty();
}

void LoopRecorder::clear()
{
    TimedMidiEventList notes;
    {
        std::lock_guard lock(m_mutex);
        if (!m_bHoldsAudio) {
            // The buffer is silence already: only the notes go.
            m_pMidiRecorder->closeHeldNotes(positionUsLocked());
            m_pMidiRecorder->swapEvents(notes);
            return;
        }
    }
    Taken taken = swapOut();
    // The old buffer is zeroed off to the side and becomes the next spare.
    m_spare.prepare(taken.samples, taken.buffer, taken.samples);
}

LoopRecorder::Taken LoopRecorder::swapOut()
{
    Taken taken;
    int64 samples = lengthFrames() * ZUB_FRAMESIZE;
    for (;;) {
        float* fresh = m_spare.take(samples);
        if (!fresh) {
            logInfo() << "LoopRecorder: no memory for " << samples << " samples";
            return taken;
        }
        std::lock_guard lock(m_mutex);
        if (int64(m_lengthSamples) != samples) {
            // The length changed meanwhile: a buffer of the new one.
            freeAlignedFloats(fresh);
            samples = m_lengthSamples;
            continue;
        }
        taken.buffer = std::exchange(m_pBuffer, fresh);
        m_bHoldsAudio = false;
        taken.samples = samples;
        taken.posSamples = m_posSamples;
        taken.numBeats = m_numBeats;
        // Notes still held end with what is taken; keys still down go on.
        m_pMidiRecorder->closeHeldNotes(positionUsLocked());
        m_pMidiRecorder->swapEvents(taken.notes);
        m_bSpareWanted = true;
        return taken;
    }
}

LoopRecorder::Content LoopRecorder::takeContent()
{
    Taken taken = swapOut();
    if (!taken.buffer)
        return {};
    m_spare.prepare(taken.samples);
    Content content;
    content.audio = LoopAudio::adopt(taken.buffer, taken.samples / ZUB_FRAMESIZE);
    content.notes.swap(taken.notes);
    content.numBeats = taken.numBeats;
    content.posSamples = taken.posSamples;
    return content;
}

LoopRecorder::Content LoopRecorder::putContent(const Content& content)
{
    const int64 samples = content.audio ? content.audio->frames() * ZUB_FRAMESIZE : 0;
    if (samples < ZUB_FRAMESIZE || samples > MAX_LENGTH_SAMPLES) {
        logInfo() << "LoopRecorder: refusing content of " << samples << " samples";
        return {};
    }
    float* buffer = allocateAlignedFloats(std::size_t(samples));
    if (!buffer) {
        logInfo() << "LoopRecorder: no memory for " << samples << " samples";
        return {};
    }
    std::memcpy(buffer, content.audio->data(), sizeof(float) * std::size_t(samples));
    const bool audible = std::any_of(buffer, buffer + samples, [](float v) { return v != 0.0f; });
    TimedMidiEventList notes = content.notes;
    Content previous;
    int64 previousSamples;
    {
        std::lock_guard lock(m_mutex);
        std::swap(buffer, m_pBuffer);
        m_bHoldsAudio = audible;
        previousSamples = m_lengthSamples;
        previous.posSamples = m_posSamples;
        previous.numBeats = std::exchange(m_numBeats, content.numBeats);
        m_pMidiRecorder->swapEvents(notes);
        previous.notes.swap(notes);
        m_lengthSamples = uint32_t(samples);
        m_posSamples %= m_lengthSamples;
        m_pMidiRecorder->setLoopLengthUs(framesToMicroseconds(samples / ZUB_FRAMESIZE));
        publishAnchorLocked(m_anchor.load().transportFrame);
    }
    previous.audio = LoopAudio::adopt(buffer, previousSamples / ZUB_FRAMESIZE);
    if (m_bSpareWanted)
        m_spare.prepare(samples);
    return previous;
}

LoopRecorder::Content LoopRecorder::copyContent() const
{
    Content content = describeContent();
    const int64 samples = lengthFrames() * ZUB_FRAMESIZE;
    float* copy = allocateAlignedFloats(std::size_t(samples));
    if (!copy)
        return content;
    // Cut short by a change of length, what was copied stays and the rest is silence.
    std::fill(copy, copy + samples, 0.0f);
    int64 at = 0;
    readAudio([&](const float* piece, int64 n) {
        std::memcpy(copy + at, piece, sizeof(float) * std::size_t(n));
        at += n;
        return true;
    });
    content.audio = LoopAudio::adopt(copy, samples / ZUB_FRAMESIZE);
    return content;
}

LoopRecorder::Content LoopRecorder::describeContent() const
{
    Content content;
    content.notes = m_pMidiRecorder->events();
    std::lock_guard lock(m_mutex);
    content.numBeats = m_numBeats;
    content.posSamples = m_posSamples;
    return content;
}

bool LoopRecorder::readAudio(const std::function<bool(const float* samples, int64 count)>& sink) const
{
    const int64 samples = lengthFrames() * ZUB_FRAMESIZE;
    // Small enough to come from the heap, not a mapping of its own.
    std::vector<float> piece(std::size_t(std::min(kCopyPieceSamples, samples)));
    for (int64 at = 0; at < samples; at += kCopyPieceSamples) {
        const int64 n = std::min(kCopyPieceSamples, samples - at);
        {
            std::lock_guard lock(m_mutex);
            if (int64(m_lengthSamples) != samples)
                return false;
            std::memcpy(piece.data(), m_pBuffer + at, sizeof(float) * std::size_t(n));
        }
        if (!sink(piece.data(), n))
            return false;
    }
    return true;
}

void LoopRecorder::prepareSpare()
{
    m_bSpareWanted = true;
    m_spare.prepare(lengthFrames() * ZUB_FRAMESIZE);
}

void LoopRecorder::settleSpare()
{
    m_spare.settle();
}

int64 LoopRecorder::lengthFrames() const
{
    std::lock_guard lock(m_mutex);
    return m_lengthSamples / ZUB_FRAMESIZE;
}

void LoopRecorder::setPlayPosFrames(uint32_t frames)
{
    std::lock_guard lock(m_mutex);
    m_posSamples = uint32_t(uint64_t(ZUB_FRAMESIZE) * frames % m_lengthSamples);
}

void LoopRecorder::alignTo(int64 timelineFrame, const BeatGrid& grid, int64 transportFrame)
{
    std::lock_guard lock(m_mutex);
    const int64 lengthFrames = m_lengthSamples / ZUB_FRAMESIZE;
    m_posSamples = uint32_t(ZUB_FRAMESIZE * grid.loopPhase(timelineFrame, m_numBeats, lengthFrames));
    publishAnchorLocked(transportFrame);
}

int64 LoopRecorder::positionUsLocked() const
{
    return framesToMicroseconds(m_posSamples / ZUB_FRAMESIZE);
}

void LoopRecorder::publishAnchorLocked(int64 transportFrame)
{
    m_anchor.store({ transportFrame, m_posSamples / ZUB_FRAMESIZE, m_lengthSamples / ZUB_FRAMESIZE });
}

int64 LoopRecorder::noteTimeUs(int64 transportFrame) const
{
    const Anchor a = m_anchor.load();
    if (a.lengthFrames <= 0)
        return 0;
    int64 pos = (a.posFrames + (transportFrame - a.transportFrame)) % a.lengthFrames;
    if (pos < 0)
        pos += a.lengthFrames;
    return framesToMicroseconds(pos);
}

int LoopRecorder::setLengthSamples(int64 numSamples)
{
    // Whole frames only: an odd length would swap left and right at every wrap.
    const int64 n = numSamples - numSamples % ZUB_FRAMESIZE;
    if (n < ZUB_FRAMESIZE || n > MAX_LENGTH_SAMPLES) {
        logInfo() << "LoopRecorder: refusing length of " << numSamples << " samples";
        return 1;
    }
    {
        std::lock_guard lock(m_mutex);
        if (int64(m_lengthSamples) == n && !m_bHoldsAudio) {
            // Silence of that length already: only the notes go.
            setLengthLocked(n);
            return 0;
        }
    }
    // Every change of length discards what was recorded: a zeroed buffer of
    // the new length is made before the audio thread is held up.
    float* fresh = m_spare.take(n);
    if (!fresh) {
        logInfo() << "LoopRecorder: no memory for " << n << " samples";
        return 1;
    }
    int64 oldSamples;
    bool recording;
    {
        std::lock_guard lock(m_mutex);
        std::swap(fresh, m_pBuffer);
        m_bHoldsAudio = false;
        oldSamples = m_lengthSamples;
        recording = m_bRecord;
        setLengthLocked(n);
    }
    // Not recording, nothing can be taken before recording starts again,
    // which makes the spare then.
    if (m_bSpareWanted && recording)
        m_spare.prepare(n, fresh, oldSamples);
    else
        freeAlignedFloats(fresh);
    return 0;
}

void LoopRecorder::setLengthLocked(int64 n)
{
    m_lengthSamples = uint32_t(n);
    // What was recorded is gone, notes held included.
    m_pMidiRecorder->reset();
    m_pMidiRecorder->setLoopLengthUs(framesToMicroseconds(n / ZUB_FRAMESIZE));
    m_posSamples %= m_lengthSamples;
    publishAnchorLocked(m_anchor.load().transportFrame);
    const double spb = samplesPerBeat(m_dTempo);
    m_numBeats = roundedBeats(double(n), spb);
    logInfo() << "new loop recorder length: " << n << " spb: " << spb;
    logInfo() << "new loop recorder length in beats: " << m_numBeats;
}

int LoopRecorder::setNumBeats(int newBeats)
{
    if (!isPowerOfTwoOfAtLeast2(newBeats)) {
        logInfo() << "LoopRecorder: refusing " << newBeats << " beats (not a power of two of at least 2)"
                 ;
        return 1;
    }
    int32 oldBeats;
    int64 length;
    double tempo;
    {
        std::lock_guard lock(m_mutex);
        oldBeats = m_numBeats;
        length = m_lengthSamples;
        tempo = m_dTempo;
    }
    if (newBeats == oldBeats) {
        logInfo() << "LoopRecorder: number of beats is the same, returning";
        return 0;
    }
    logInfo() << "Changing LoopRecorder length from " << oldBeats << " beats to " << newBeats;
    const bool grow = oldBeats < newBeats;
    const int factor = grow ? newBeats / oldBeats : oldBeats / newBeats;
    if (factor % 2 != 0) {
        logInfo() << "LoopRecorder: refusing a change of length by the odd factor " << factor;
        return 1;
    }
    logInfo() << (grow ? "growing" : "shrinking") << " looprecorder by a factor of " << factor;
    const BeatGrid grid(tempo);
    if (grid.fits(oldBeats, length / ZUB_FRAMESIZE))
        return setLengthSamples(ZUB_FRAMESIZE * grid.framesForBeats(newBeats));
    return setLengthSamples(grow ? length * factor : length / factor);
}

int LoopRecorder::setTempo(double bpm, bool resize)
{
    if (!(bpm > 0.0) || !std::isfinite(bpm)) {
        logInfo() << "LoopRecorder: refusing tempo " << bpm;
        return 1;
    }
    int64 length;
    {
        std::lock_guard lock(m_mutex);
        m_dTempo = bpm;
        if (!resize)
            return 0;
        length = ZUB_FRAMESIZE * BeatGrid(bpm).framesForBeats(m_numBeats);
    }
    return setLengthSamples(length);
}

void LoopRecorder::noteOn(int note, int64 transportFrame)
{
    m_pMidiRecorder->noteOn(note, noteTimeUs(transportFrame));
}

void LoopRecorder::noteOff(int note, int64 transportFrame)
{
    m_pMidiRecorder->noteOff(note, noteTimeUs(transportFrame));
}

TimedMidiEventList LoopRecorder::events() const
{
    return m_pMidiRecorder->events();
}

uint32_t LoopRecorder::posSamples() const
{
    std::lock_guard lock(m_mutex);
    return m_posSamples;
}

int LoopRecorder::numBeats() const
{
    std::lock_guard lock(m_mutex);
    return m_numBeats;
}

double LoopRecorder::tempo() const
{
    std::lock_guard lock(m_mutex);
    return m_dTempo;
}

uint64_t LoopRecorder::frameCounter() const
{
    std::lock_guard lock(m_mutex);
    return m_frameCounter;
}

LoopRecorder::Content LoopRecorder::moveInto(Loop& loop)
{
    Content content = takeContent();
    if (!content.audio)
        return content;
    loop.setAudio(content.audio, content.posSamples);
    loop.setNotes(content.notes);
    loop.setNumBeats(content.numBeats);
    return content;
}

void LoopRecorder::activate()
{
    logInfo() << "LoopRecorder activated.";
    std::lock_guard lock(m_mutex);
    m_bSuspended = false;
}

void LoopRecorder::suspend()
{
    logInfo() << "LoopRecorder suspended.";
    std::lock_guard lock(m_mutex);
    m_bSuspended = true;
    m_bRecord = false;
    m_pMidiRecorder->setRecord(false, positionUsLocked());
}

bool LoopRecorder::isSuspended() const
{
    std::lock_guard lock(m_mutex);
    return m_bSuspended;
}

void LoopRecorder::toJson(Json::Value& root) const
{
    std::lock_guard lock(m_mutex);
    Json::Value& state = root["loop_recorder"];
    state["record"] = m_bRecord;
    state["length_seconds"] = (m_lengthSamples / ZUB_FRAMESIZE) / double(ZUB_SAMPLE_RATE);
    state["num_beats"] = m_numBeats;
    state["frame_counter"] = Json::UInt64(m_frameCounter);
    state["play_pos_frame"] = Json::Int64(m_posSamples / ZUB_FRAMESIZE);
    state["empty"] = !holdsRecordingLocked();
}

void LoopRecorder::handleJson(const Json::Value& root)
{
    const Json::Value* commands = takeComponentCommands(root, "loop_recorder", *this);
    if (!commands)
        return;
    const Json::Value& msg = *commands;
    if (msg.isMember("record") && JsonField::isBoolLike(msg["record"])) {
        const bool record = JsonField::toBool(msg["record"], false);
        // What is recorded now may become a loop: its successor is made ahead.
        if (record)
            prepareSpare();
        setRecord(record);
        logDebug() << "parsed json to m_bRecord: " << (record ? 1 : 0);
    }
    if (JsonField::toBool(msg["clear"], false))
        clear();
    if (msg.isMember("beats")) {
        // Huge counts become INT_MAX, which is no power of two and is refused.
        const int beats = int(std::clamp<long long>(JsonField::toInt64(msg["beats"], 0), INT_MIN, INT_MAX));
        if (beats != numBeats())
            setNumBeats(beats);
    }
}
