#pragma once

#include "core/playbackengine.h"
#include "core/timedmidieventlist.h"
#include "core/zubclock.h"
#include "core/zubtypes.h"

#include <json/value.h>

#include <cstdint>
#include <memory>
#include <mutex>

class Loop;
class MidiRecorder;

// An always-running circular recording buffer a power-of-two number of beats
// long: while recording it sums the instrument into the buffer, and it always
// plays the buffer back in time with the transport. The audio thread calls
// record, process and setPlayPosFrames; the message thread everything else.
// One recursive mutex guards all of it.
class LoopRecorder : public PlaybackEngine
{
public:
    // Lengths beyond this (about 12.7 minutes) are refused.
    static constexpr uint32_t MAX_LENGTH_SAMPLES = 1u << 26;

    explicit LoopRecorder(const ZubClock& clock = ZubClock::system());
    virtual ~LoopRecorder();

    void process(float* out, int numFrames) override;
    virtual void record(float* in, int numFrames);
    // Live input that arrived `lateFrames` after the moment the musician
    // played it (to what they heard) goes that much earlier into the loop.
    // It is not played back in this cycle, so it stays in `in` to be heard.
    void recordLate(float* in, int numFrames, int64 lateFrames);

    void setRecord(bool record);
    bool isRecording() const;
    void clear();
    int64 lengthFrames() const;
    void setPlayPosFrames(uint32_t frames);
    // Odd lengths are cut to whole frames. Returns 0, or 1 (nothing changed)
    // for a length below one frame or above MAX_LENGTH_SAMPLES.
    int setLengthSamples(int64 numSamples);
    // Beats move between powers of two by whole factors. Returns 0, or 1
    // (nothing changed) for a count that is not a power of two of at least 2.
    int setNumBeats(int newBeats);
    // Returns 0, or 1 (nothing changed) for a tempo that is not positive.
    int setTempo(double bpm, bool resize);

    void noteOn(int note);
    void noteOff(int note);
    TimedMidiEventList events() const;

    uint32_t posSamples() const;
    int numBeats() const;
    double tempo() const;
    uint64_t frameCounter() const;

    // Copies the buffer (continuing at the recorder's phase), the notes and
    // the beat count into the loop and clears the recorder, in one step under
    // the lock so that no block recorded in between is lost.
    void moveInto(Loop& loop);

    void activate();
    void suspend();
    bool isSuspended() const;

    void toJson(Json::Value& root) const;
    void handleJson(const Json::Value& root);

protected:
    // For recorders built on this one. The buffer and the MIDI recorder are
    // reached under mutex(); the buffer is never reallocated after the last
    // setLengthSamples.
    std::recursive_mutex& mutex() const { return m_mutex; }
    float* buffer() { return m_pBuffer; }
    MidiRecorder& midiRecorder() { return *m_pMidiRecorder; }

private:
    void clearLocked();

    float* m_pBuffer = nullptr;
    std::unique_ptr<MidiRecorder> m_pMidiRecorder;
    bool m_bFirstCycle = true;
    int32 m_capacitySamples = 0;
    uint32_t m_lengthSamples = 0;
    uint32_t m_posSamples = 0;
    int32 m_numBeats = 8;
    double m_dTempo = 120.0;
    bool m_bRecord = false;
    bool m_bSuspended = false;
    uint64_t m_frameCounter = 0;
    mutable std::recursive_mutex m_mutex;
};
