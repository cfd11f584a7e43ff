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
class LoopAudio;
class SuperResampler;

// One recorded piece of stereo audio of a whole number of beats, with the
// notes played while it was recorded. The audio thread plays it (process,
// processResampled, syncPlayPos); the message thread edits it. Audio and
// notes are never written in place: an edit makes new ones outside the lock
// and swaps them in, so the lock the audio thread takes is only ever held
// for a few stores by anyone else.
class Loop : public PlaybackEngine
{
public:
    // What the loop holds, taken in one short hold of the lock: shared, never
    // copied, and valid however the loop changes afterwards.
    struct Content
    {
        std::shared_ptr<const LoopAudio> audio;
        int64 frames = 0; // may be shorter than the audio
        std::shared_ptr<const TimedMidiEventList> notes;
        int32 id = 0;
        int32 numBeats = 0;
        bool muted = false;
    };

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
    // Audio past a shorter length comes back when it grows again.
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

    // A copy of src becomes the loop's audio, playing on at the source's phase.
    void copyFrom(const float* src, uint32_t numFrames, uint32_t transportPosSamples);
    // The audio becomes the loop's whole length, playing on at the source's
    // phase. Returns 0, or 1 (nothing changed) for no audio.
    int setAudio(std::shared_ptr<const LoopAudio> audio, uint32_t transportPosSamples = 0);
    std::shared_ptr<const LoopAudio> audio() const;
    Content content() const;
    // Returns 0, or 1 when the file cannot be read (the loop is then empty).
    int loadWav(const std::string& path);

    int32 id() const;
    // The pool draws a fresh id when the drawn one is taken.
    void setId(int32 id);
    std::string waveform() const;
    // The audio's samples while nobody replaces it; audio() keeps them alive.
    const float* data() const;

    Json::Value toJson() const;
    void fromJson(const Json::Value& loop);

    // Loop ids are 15 bits wide.
    static int32 drawId();

private:
    void advanceSilently(int64 n, int64 loopSamples);
    // Under the lock; hands back the audio replaced, to be let go after it.
    std::shared_ptr<const LoopAudio> swapAudio(std::shared_ptr<const LoopAudio> audio, int64 lengthFrames);

    int32 m_id;
    bool m_bEmpty = true;
    std::unique_ptr<Fade> m_pFade;
    std::shared_ptr<const LoopAudio> m_pAudio;
    int64 m_iLoopLengthFrames = 0;
    int64 m_iPlayPosOffset = 0;
    bool m_bMute = false;
    bool m_bPlaying = true;
    bool m_bResampling = false;
    std::shared_ptr<const TimedMidiEventList> m_pNotes;
    int32 m_playMode = 0;
    mutable std::recursive_mutex m_mutex;
    // Edits that read the audio to make new audio take turns on this one.
    std::mutex m_editMutex;
    std::unique_ptr<SuperResampler> m_pResampler;
    double m_dRate = 1.0;
    int32 m_numBeats = 16;
};
