#pragma once

#include "core/zubtypes.h"

#include <memory>
#include <string>
#include <vector>

class Idea;
class IdeaCollection;
class Loop;
class LoopPool;
class LoopRecorder;
class Sample;
class Transport;

// The engine's current drum loop: the decoded file, its tempo and beats, and
// the loop it put into the ideas. The loop is always exactly its beats long at
// the song's tempo, re-timed from the file: playing puts it into the active
// idea at the transport's tempo; while it plays (or, once loaded, until it
// first plays) every tempo change replaces it with one re-timed to the new
// tempo and re-times the loop recorder to it. Stopping removes that loop only,
// and a stopped drum loop stays stopped. GUI thread only; ideas and loops
// lock themselves.
class DrumLoopPlayer
{
public:
    // Re-timing stops at a fifth of the file's tempo.
    static constexpr double MIN_RETIME_RATIO = 0.2;

    DrumLoopPlayer(IdeaCollection* ideas, LoopPool* pool, LoopRecorder* recorder, Transport* transport);
    ~DrumLoopPlayer();

    // Loads folder/fileName; tempo and beats come from the file name. Nothing
    // plays until play() or the next tempo change. Returns 0, or 1 (nothing
    // changed) for a name that does not parse or leaves the folder.
    int load(const std::string& folder, const std::string& fileName);
    // Into the active idea (made when there is none), re-timed to the
    // transport's tempo, from the start of the song. Returns 0, or 1 with a
    // log line when nothing is loaded or the tempo is out of its reach.
    int play();
    void stop();
    // Forgets the sample, then stops.
    void clear();
    // Playing, or loaded and not yet played or stopped: tempo changes re-time it.
    bool isActive() const;
    // False when the drum loop is active and bpm is at or below a fifth of its tempo.
    bool acceptsTempo(double bpm) const;
    // Called after the transport and metronome have the new tempo; false when
    // there is nothing to re-time (the caller then re-times the recorder).
    // timelineLoop: the freestyle tempo detector's loop while it owns the
    // timeline, else null.
    bool retime(double bpm, const std::shared_ptr<Loop>& timelineLoop);
    // The drum loop as a loop of its beats at bpm, exactly
    // round(beats x 60 x 44,100 / bpm) frames; null when nothing is loaded.
    std::shared_ptr<Loop> retimedLoop(double bpm);

    bool isLoaded() const { return m_pSample != nullptr; }
    float bpm() const { return m_fBpm; }
    float beats() const { return m_fBeats; }
    // The loop this player put into the ideas, while it lives.
    std::shared_ptr<Loop> loop() const { return m_pLoop.lock(); }

private:
    int64 sampleFrames() const;
    bool reaches(double bpm) const;
    // Takes the current drum loop out of every idea and returns those ideas.
    std::vector<Idea*> removeFromIdeas();
    void retimeTimeline(const std::shared_ptr<Loop>& timelineLoop, int64 destFrames, int64 pos, double bpm);

    IdeaCollection* m_pIdeaCollection;
    LoopPool* m_pLoopPool;
    LoopRecorder* m_pLoopRecorder;
    Transport* m_pTransport;
    std::unique_ptr<Sample> m_pSample;
    float m_fBpm = 120.0f;
    float m_fBeats = 16.0f;
    // Loaded and waiting for its first play or tempo change.
    bool m_bArmed = false;
    std::weak_ptr<Loop> m_pLoop;
};
