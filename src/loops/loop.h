#pragma once

#include "core/beatgrid.h"
#include "core/playbackengine.h"
#include "core/timedmidieventlist.h"
#include "core/zubtypes.h"

#include <json/value.h>

#include <memory>
#include <mutex>
#include <string>

class Fade;
class SuperResampler;

// One recorded piece of stereo audio of a whole number of beats, with the
// notes played while it was recorded. The audio thread plays it (process,
// processResampled, syncPlayPos); the message thread edits it. Every operation
// takes the loop's own recursive mutex.
class Loop : public PlaybackEngine
{
public:
    Loop();
    virtual ~Loop();

    Loop(const Loop&) = delete;
    Loop& operator=(const Loop&) = delete;

    // Adds the loop's audio into out and advances the play position.
    void process(float* out, int numFrames) override;
    // Plays through the resampler at the loop's rate; transport alignment is
    // ignored from now until endResampling().
    void processResampled(float* out, int numFrames);
    void endResampling();

    // Returns 0, or 1 (nothing changed) for a negative length or no memory.
    int setLength(int64 numFrames);
    int64 numFrames() const;
    double lengthSeconds() const;
    // Zeroes the audio (the buffer must exist) and marks the loop empty.
    void clear();
    bool isEmpty() const;

    void setNumBeats(int numBeats);
    int numBeats() const;

    // Samples (2 per frame); a negative offset is refused.
    void setPlayPosOffset(int64 playPosOffset);
    int64 playPosOffset() const;
    void syncPlayPos(int64 transportPosSamples);
    // Audio thread, every cycle: a loop exactly its beats long at the grid's
    // tempo wraps on every n-th beat of the grid; any other plays the frame
    // modulo its length (as syncPlayPos).
    void alignTo(int64 frame, const BeatGrid& grid);
    void setRate(double rate);

    void setMute(bool mute, bool immediate);
    bool isMuted() const;
    void setPlaying(bool playing);
    bool isPlaying() const;
    // 0 = loop, 1 = play once; anything else is refused.
    void setPlayMode(int playMode);

    void setNotes(const TimedMidiEventList& notes);
    TimedMidiEventList notes() const;

    void copyFrom(const float* src, uint32_t numFrames, uint32_t transportPosSamples);
    // Copies src in pieces of pieceFrames, holding the lock for one piece at
    // a time, so that the audio thread playing this loop never waits long.
    // The loop is silent and empty until the copy is whole; audio past the
    // new length is zeroed. Plays from position 0. Grows outside the lock.
    // Returns 0, or 1 for no memory or a buffer replaced meanwhile (the loop
    // is then left empty).
    int copyInPieces(const float* src, uint32_t numFrames, uint32_t pieceFrames);
    // Returns 0, or 1 when the file cannot be read (the loop is then empty).
    int loadWav(const std::string& path);

    int32 id() const;
    // The pool draws a fresh id when the drawn one is taken.
    void setId(int32 id);
    std::string waveform() const;
    // Raw audio for the renderer and the project writer: hold no reference
    // past a length change.
    const float* data() const { return m_pLoopBuffer; }

    Json::Value toJson() const;
    void fromJson(const Json::Value& loop);

    // Loop ids are 15 bits wide.
    static int32 drawId();

private:
    void freeBuffer();
    void advanceSilently(int64 n, int64 loopSamples);
    void computeWaveform();
    int reserveFrames(int64 numFrames);
    void finishCopy(uint32_t numFrames, uint32_t transportPosSamples);

    int32 m_id;
    bool m_bEmpty = true;
    std::unique_ptr<Fade> m_pFade;
    float* m_pLoopBuffer = nullptr;
    int64 m_iBufferLengthFrames = 0;
    int64 m_iLoopLengthFrames = 0;
    int64 m_iPlayPosOffset = 0;
    bool m_bMute = false;
    bool m_bPlaying = true;
    bool m_bResampling = false;
    TimedMidiEventList m_notes;
    int32 m_playMode = 0;
    mutable std::recursive_mutex m_mutex;
    std::unique_ptr<SuperResampler> m_pResampler;
    double m_dRate = 1.0;
    int32 m_numBeats = 16;
    std::string m_waveform;
};
