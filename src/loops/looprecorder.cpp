#include "loops/looprecorder.h"

#include "core/componentcommands.h"
#include "core/jsonfield.h"
#include "core/log.h"
#include "loops/loop.h"
#include "loops/midirecorder.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <new>

namespace {

constexpr double kSamplesPerSecond = double(ZUB_SAMPLE_RATE) * ZUB_FRAMESIZE;
constexpr int64 kInitialLengthSamples = 705600; // 16 beats at 120 bpm

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

LoopRecorder::LoopRecorder(const ZubClock& clock)
    : m_pMidiRecorder(std::make_unique<MidiRecorder>(clock))
{
    m_pMidiRecorder->setLoopLengthUs(8000000);
    setLengthSamples(kInitialLengthSamples);
}

LoopRecorder::~LoopRecorder()
{
    delete[] m_pBuffer;
}

void LoopRecorder::process(float* out, int numFrames)
{
    std::lock_guard lock(m_mutex);
    m_frameCounter += numFrames;
    if (m_bFirstCycle) {
        m_pMidiRecorder->start();
        m_bFirstCycle = false;
    }
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
    uint32_t dst = m_posSamples;
    for (uint32_t i = 0; i < n; ++i) {
        m_pBuffer[dst] += in[i];
        if (++dst == m_lengthSamples)
            dst = 0;
    }
    // Heard only through the playback, never twice.
    if (!m_bSuspended)
        std::fill(in, in + n, 0.0f);
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
    uint32_t dst = uint32_t((uint64_t(m_posSamples) + m_lengthSamples - late) % m_lengthSamples);
    for (uint32_t i = 0; i < n; ++i) {
        m_pBuffer[dst] += in[i];
        if (++dst == m_lengthSamples)
            dst = 0;
    }
}

void LoopRecorder::setRecord(bool record)
{
    std::lock_guard lock(m_mutex);
    m_bRecord = record;
    m_pMidiRecorder->setRecord(record);
}

bool LoopRecorder::isRecording() const
{
    std::lock_guard lock(m_mutex);
    return m_bRecord;
}

void LoopRecorder::clear()
{
    std::lock_guard lock(m_mutex);
    clearLocked();
}

void LoopRecorder::clearLocked()
{
    std::fill(m_pBuffer, m_pBuffer + m_capacitySamples, 0.0f);
    m_pMidiRecorder->clear();
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

int LoopRecorder::setLengthSamples(int64 numSamples)
{
    // Whole frames only: an odd length would swap left and right at every wrap.
    const int64 n = numSamples - numSamples % ZUB_FRAMESIZE;
    if (n < ZUB_FRAMESIZE || n > MAX_LENGTH_SAMPLES) {
        logInfo() << "LoopRecorder: refusing length of " << numSamples << " samples";
        return 1;
    }
    // The buffer only grows; a larger one is made before the audio thread is held up.
    float* grown = nullptr;
    if (n > int64(m_capacitySamples)) {
        grown = new (std::nothrow) float[n]();
        if (!grown) {
            logInfo() << "LoopRecorder: no memory for " << n << " samples";
            return 1;
        }
    }
    float* old = nullptr;
    {
        std::lock_guard lock(m_mutex);
        if (grown) {
            old = m_pBuffer;
            m_pBuffer = grown;
            m_capacitySamples = int32(n);
        }
        m_lengthSamples = uint32_t(n);
        // Every change of length discards what was recorded.
        clearLocked();
        m_pMidiRecorder->setLoopLengthUs(int64(double(n) / kSamplesPerSecond * 1000000.0));
        m_posSamples %= m_lengthSamples;
        const double spb = samplesPerBeat(m_dTempo);
        m_numBeats = roundedBeats(double(n), spb);
        logInfo() << "new loop recorder length: " << n << " spb: " << spb;
        logInfo() << "new loop recorder length in beats: " << m_numBeats;
    }
    delete[] old;
    return 0;
}

int LoopRecorder::setNumBeats(int newBeats)
{
    if (!isPowerOfTwoOfAtLeast2(newBeats)) {
        logInfo() << "LoopRecorder: refusing " << newBeats << " beats (not a power of two of at least 2)";
        return 1;
    }
    int32 oldBeats;
    int64 length;
    {
        std::lock_guard lock(m_mutex);
        oldBeats = m_numBeats;
        length = m_lengthSamples;
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
        length = int64(samplesPerBeat(bpm) * m_numBeats);
    }
    return setLengthSamples(length);
}

void LoopRecorder::noteOn(int note)
{
    m_pMidiRecorder->noteOn(note);
}

void LoopRecorder::noteOff(int note)
{
    m_pMidiRecorder->noteOff(note);
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

void LoopRecorder::moveInto(Loop& loop)
{
    // Sized first, so the copy under the lock does not allocate.
    loop.setLength(lengthFrames());
    std::lock_guard lock(m_mutex);
    loop.copyFrom(m_pBuffer, m_lengthSamples / ZUB_FRAMESIZE, m_posSamples);
    loop.setNotes(m_pMidiRecorder->events());
    loop.setNumBeats(m_numBeats);
    clearLocked();
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
    m_pMidiRecorder->setRecord(false);
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
}

void LoopRecorder::handleJson(const Json::Value& root)
{
    const Json::Value* commands = takeComponentCommands(root, "loop_recorder", *this);
    if (!commands)
        return;
    const Json::Value& msg = *commands;
    if (msg.isMember("record") && JsonField::isBoolLike(msg["record"])) {
        const bool record = JsonField::toBool(msg["record"], false);
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
