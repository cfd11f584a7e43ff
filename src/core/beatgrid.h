#pragma once

#include "core/zubtypes.h"

// The song's beats on the frame line at one tempo: beat k starts at frame
// round(k x 60 x 44,100 / bpm), counted from frame 0. A loop of N beats is
// exactly as long as the first N beats, and one that long wraps on every
// N-th beat of the grid, so loops of any power-of-two length, the click and
// the drum loop meet on the same frames however long the song runs, also at
// tempos whose beats are not a whole number of frames.
class BeatGrid
{
public:
    explicit BeatGrid(double bpm);

    double bpm() const { return m_dBpm; }
    double framesPerBeat() const;
    // The frame beat k starts at.
    int64 beatStart(int64 beat) const;
    // Frames of a loop that many beats long.
    int64 framesForBeats(int64 beats) const { return beatStart(beats); }
    // The beat the frame lies in: beatStart(b) <= frame < beatStart(b + 1).
    int64 beatAt(int64 frame) const;
    // Where a loop of loopFrames is at the frame: locked to the grid when
    // the loop is exactly its beats long at this tempo (its passes then span
    // one or two frames more or less, so that every pass starts on its beat);
    // otherwise the frame modulo the loop's length.
    int64 loopPhase(int64 frame, int64 beats, int64 loopFrames) const;
    bool fits(int64 beats, int64 loopFrames) const { return beats > 0 && loopFrames == framesForBeats(beats); }

    // 60 x 44,100: frames in a minute.
    static constexpr double FRAMES_PER_MINUTE = 60.0 * ZUB_SAMPLE_RATE;

private:
    double m_dBpm;
};
