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
class Metronome;
class Sample;
class Transport;

// The engine's current drum loop: the decoded file, its tempo and beats, and
// the loop it put into the ideas. Playing adds that loop to the active idea;
// every tempo change replaces it with a copy resampled to the new tempo and
// re-times the loop recorder and the metronome to it. Stopping removes that
// loop only. GUI thread only; ideas and loops lock themselves.
class DrumLoopPlayer
{
public:
    // Slower re-timing would need an unbounded resampling buffer.
    static constexpr double MIN_RETIME_RATIO = 0.2;

    DrumLoopPlayer(IdeaCollection* ideas, LoopPool* pool, LoopRecorder* recorder, Metronome* metronome,
                   Transport* transport);
    ~DrumLoopPlayer();

    // Loads folder/fileName; tempo and beats come from the file name. Returns
    // 0, or 1 (nothing changed) for a name that does not parse or leaves the folder.
    int load(const std::string& folder, const std::string& fileName);
    void play();
    void stop();
    // Forgets the sample, then stops.
    void clear();
    // False when a sample is loaded and bpm is at or below a fifth of its tempo.
    bool acceptsTempo(double bpm) const;
    // Called after the transport and metronome have the new tempo; false when
    // there is nothing to re-time (the caller then re-times the recorder).
    // timelineLoop: the freestyle tempo detector's loop while it owns the
    // timeline, else null.
    bool retime(double bpm, const std::shared_ptr<Loop>& timelineLoop);

    bool isLoaded() const { return m_pSample != nullptr; }
    float bpm() const { return m_fBpm; }
    float beats() const { return m_fBeats; }
    // The loop this player put into the ideas, while it lives.
    std::shared_ptr<Loop> loop() const { return m_pLoop.lock(); }

private:
    int64 sampleFrames() const;
    // Takes the current drum loop out of every idea and returns those ideas.
    std::vector<Idea*> removeFromIdeas();
    int64 resample(double ratio, std::vector<float>& out);
    void retimeTimeline(const std::shared_ptr<Loop>& timelineLoop, int64 destFrames, int64 pos, double bpm);

    IdeaCollection* m_pIdeaCollection;
    LoopPool* m_pLoopPool;
    LoopRecorder* m_pLoopRecorder;
    Metronome* m_pMetronome;
    Transport* m_pTransport;
    std::unique_ptr<Sample> m_pSample;
    float m_fBpm = 120.0f;
    float m_fBeats = 16.0f;
    std::weak_ptr<Loop> m_pLoop;
};
