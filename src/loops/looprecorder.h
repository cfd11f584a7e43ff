#pragma once

#include "core/playbackengine.h"
#include "core/timedmidieventlist.h"
#include "core/zubclock.h"
#include "core/zubtypes.h"
#include "loops/sparebuffer.h"

#include <json/value.h>

#include <cstdint>
#include <memory>
#include <mutex>

class Loop;
class LoopAudio;
class MidiRecorder;

// An always-running circular recording buffer a power-of-two number of beats
// long: while recording it sums the instrument into the buffer, and it always
// plays the buffer back in time with the transport. The audio thread calls
// record, process and setPlayPosFrames; the message thread everything else.
// One recursive mutex guards all of it. Clearing, making a loop and changing
// the length never write the buffer under that mutex: the buffer is traded
// for a zeroed one made ahead on another thread, in one pointer swap.
class LoopRecorder : public PlaybackEngine
{
public:
    // What the recorder holds: for a loop made from it, the undo history and
    // the recovery copy.
    struct Content
    {
        std::shared_ptr<const LoopAudio> audio; // the whole buffer
        TimedMidiEventList notes;
        int32 numBeats = 0;
        uint32_t posSamples = 0; // where the recorder was playing
    };

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

    // The buffer (continuing at the recorder's phase), the notes and the beat
    // count become the loop's and the recorder is clear, in one step under
    // the lock so that no block recorded in between is lost. Nothing is copied.
    void moveInto(Loop& loop);
    // The recorder's content leaves it (which is then clear), in one step.
    // Null audio when no memory could be had (nothing changed then).
    Content takeContent();
    // The content goes back into the recorder, its length and beats with it;
    // returns what the recorder held, as takeContent does. Copies the audio
    // outside the lock.
    Content putContent(const Content& content);
    // A copy taken in short holds of the lock while recording goes on.
    Content copyContent() const;
    // Starts making the buffer the next clear or loop trades for; the page's
    // record button asks for it.
    void prepareSpare();

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
    struct Taken
    {
        float* buffer = nullptr;
        int64 samples = 0;
        uint32_t posSamples = 0;
        int32 numBeats = 0;
        TimedMidiEventList notes;
    };
    // Trades the buffer and notes for empty ones; the old buffer is the caller's.
    Taken swapOut();
    void setLengthLocked(int64 numSamples);

    float* m_pBuffer = nullptr;
    std::unique_ptr<MidiRecorder> m_pMidiRecorder;
    bool m_bFirstCycle = true;
    uint32_t m_lengthSamples = 0;
    uint32_t m_posSamples = 0;
    int32 m_numBeats = 8;
    double m_dTempo = 120.0;
    bool m_bRecord = false;
    bool m_bSuspended = false;
    uint64_t m_frameCounter = 0;
    mutable std::recursive_mutex m_mutex;
    // Once a buffer was traded, the next one is always made ahead.
    bool m_bSpareWanted = false;
    SpareBuffer m_spare;
};
