#pragma once

#include "core/beatgrid.h"
#include "core/pirecursivemutex.h"
#include "core/playbackengine.h"
#include "core/seqlocked.h"
#include "core/timedmidieventlist.h"
#include "core/zubtypes.h"
#include "loops/sparebuffer.h"

#include <json/value.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

class Loop;
class LoopAudio;
class MidiRecorder;

// An always-running circular recording buffer a power-of-two number of beats
// long: while recording it sums the instrument into the buffer, and it always
// plays the buffer back in time with the transport. The audio thread calls
// record, process and alignTo; the message thread everything else; notes
// come from the key and MIDI threads stamped with the transport frame they
// were played at, and land where the recorder's audio was at that frame.
// One recursive mutex guards all of it but the note stamping, which reads
// where the recorder is without a lock. Clearing, making a loop and changing
// the length never write the buffer under that mutex: the buffer is traded
// for a zeroed one made ahead on another thread, in one pointer swap.
class LoopRecorder final : public PlaybackEngine
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

    LoopRecorder();
    ~LoopRecorder();

    void process(float* out, int numFrames) override;
    void record(float* in, int numFrames);
    // Live input that arrived `lateFrames` after the moment the musician
    // played it (to what they heard) goes that much earlier into the loop.
    // It is not played back in this cycle, so it stays in `in` to be heard.
    void recordLate(float* in, int numFrames, int64 lateFrames);

    void setRecord(bool record);
    bool isRecording() const;
    // True once something audible or any note was recorded, until the next
    // clear, length change or move into a loop.
    bool holdsRecording() const;
    void clear();
    int64 lengthFrames() const;
    void setPlayPosFrames(uint32_t frames);
    // Audio thread, every cycle: the position for the timeline frame (the
    // transport's, or the tempo detector's loop while it owns the timeline),
    // locked to the grid when the loop is its beats long at the grid's tempo,
    // and where the transport then is, for stamping notes.
    void alignTo(int64 timelineFrame, const BeatGrid& grid, int64 transportFrame);
    // Odd lengths are cut to whole frames. Returns 0, or 1 (nothing changed)
    // for a length below one frame or above MAX_LENGTH_SAMPLES.
    int setLengthSamples(int64 numSamples);
    // Beats move between powers of two of at least 2; the length becomes
    // exactly that many beats at the recorder's tempo (or changes by the
    // same factor when it was not a whole number of beats). Returns 0, or 1
    // (nothing changed) for a count that is not a power of two of at least 2.
    int setNumBeats(int newBeats);
    // With resize the length becomes exactly the beats at the new tempo.
    // Returns 0, or 1 (nothing changed) for a tempo that is not positive.
    int setTempo(double bpm, bool resize);

    // Key and MIDI threads: transportFrame is where the audio was when the
    // key moved (Transport::frameNow).
    void noteOn(int note, int64 transportFrame);
    void noteOff(int note, int64 transportFrame);
    TimedMidiEventList events() const;

    uint32_t posSamples() const;
    int numBeats() const;
    double tempo() const;
    uint64_t frameCounter() const;

    // The buffer (continuing at the recorder's phase), the notes and the beat
    // count become the loop's and the recorder is clear, in one step under
    // the lock so that no block recorded in between is lost. Nothing is copied.
    // Notes still held end at the loop's end; keys still down go on in the
    // recorder from 0 once it wraps. Returns what went into the loop (null
    // audio when nothing did).
    Content moveInto(Loop& loop);
    // The recorder's content leaves it (which is then clear), in one step.
    // Null audio when no memory could be had (nothing changed then).
    Content takeContent();
    // The content goes back into the recorder, its length and beats with it;
    // returns what the recorder held, as takeContent does. Copies the audio
    // outside the lock.
    Content putContent(const Content& content);
    // A copy taken in short holds of the lock while recording goes on.
    Content copyContent() const;
    // The notes, beats and place of the content, without its audio.
    Content describeContent() const;
    // The audio from its start, a piece at a time: each piece is copied in a
    // short hold of the lock and handed to sink outside it. Nothing large is
    // allocated, so a copy to a file leaves no big mapping to undo while the
    // audio thread runs. Returns false when a change of length or the sink
    // (by returning false) ended it early.
    bool readAudio(const std::function<bool(const float* samples, int64 count)>& sink) const;
    // Starts making the buffer the next clear or loop trades for; the page's
    // record button asks for it.
    void prepareSpare();
    // Waits until the buffer made ahead is ready, so that no buffer is then
    // in the hands of the thread making it.
    void settleSpare();

    void activate();
    void suspend();
    bool isSuspended() const;

    void toJson(Json::Value& root) const;
    void handleJson(const Json::Value& root);

private:
    // Adds samples into the loop from `dst` on, wrapping; notes audible audio.
    void mixIn(const float* in, uint32_t numSamples, uint32_t dst);

    // Where the recorder was at a transport frame; read lock-free by note input.
    struct Anchor
    {
        int64 transportFrame = 0;
        int64 posFrames = 0;
        int64 lengthFrames = 0;
    };
    // The loop time, in microseconds, of a note played at the transport frame.
    int64 noteTimeUs(int64 transportFrame) const;
    void publishAnchorLocked(int64 transportFrame);
    int64 positionUsLocked() const;

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
    SeqLocked<Anchor> m_anchor;
    uint32_t m_lengthSamples = 0;
    uint32_t m_posSamples = 0;
    int32 m_numBeats = 8;
    double m_dTempo = 120.0;
    bool m_bRecord = false;
    bool m_bSuspended = false;
    bool m_bHoldsAudio = false;
    bool holdsRecordingLocked() const;
    uint64_t m_frameCounter = 0;
    // The audio thread waits on it while a copy holds it: the holder is lent
    // the audio thread's priority.
    mutable PiRecursiveMutex m_mutex;
    // Once a buffer was traded, the next one is always made ahead.
    bool m_bSpareWanted = false;
    SpareBuffer m_spare;
};
