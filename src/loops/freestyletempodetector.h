#pragma once

#include "core/playbackengine.h"
#include "core/zubtypes.h"

#include <json/value.h>

#include <atomic>
#include <memory>
#include <mutex>

class Loop;
class NativeJsBridge;

// Turns a free take into a loop of a power-of-two number of beats: from a
// tapped tempo and the time between the first and the last tap it picks 1 to
// 64 beats, cuts the take to that length, folds what was played past the cut
// onto the start and moves the notes with it. An untouched copy of the take
// lets every attempt, and a cancel, start again from the take as recorded.
// The audio thread calls process and reads the position; the message thread
// everything else.
class FreestyleTempoDetector : public PlaybackEngine
{
public:
    static constexpr int MAX_BEATS = 64;

    FreestyleTempoDetector();
    virtual ~FreestyleTempoDetector();

    FreestyleTempoDetector(const FreestyleTempoDetector&) = delete;
    FreestyleTempoDetector& operator=(const FreestyleTempoDetector&) = delete;

    void setJsBridge(NativeJsBridge* bridge) { m_pJsBridge = bridge; }
    // Keeps a copy of the take as it is now. A null loop forgets the take:
    // commands that need one are then ignored.
    void setLoop(std::shared_ptr<Loop> loop);
    std::shared_ptr<Loop> loop() const;

    void activate();
    void suspend();
    void suspendAndRestoreLoopState();
    // 0 = loop, 1 = play once, from the start; the engine then follows the
    // loop's position.
    void playLoop(int playMode);
    // Returns 0, or 1 (nothing changed) without a loop, for a tempo outside
    // 30..200 bpm or for a span that is negative or not a number.
    int setLoopLengthByTempo(double bpm, double seconds);
    // The power of two of beats, 1 to 64, whose length is nearest to seconds;
    // ties go to the shorter.
    static int snapBeats(double bpm, double seconds);

    // Audio thread.
    void process(float* out, int numFrames) override;
    bool isActive() const { return m_bActive.load(); }
    // The loop's play position; 0 without a loop.
    int64 playPosFrames() const;

    float tempo() const { return m_fTempo.load(); }

    void toJson(Json::Value& root) const;
    void handleJson(const Json::Value& root);

private:
    std::shared_ptr<Loop> requireLoop(const char* what) const;
    void restoreSavedLoop(Loop& loop) const;
    void standBy(Loop& take, bool playing, int playMode);
    void foldAudio(Loop& loop, int64 newFrames) const;
    static void moveNotes(Loop& loop, int64 newFrames);

    NativeJsBridge* m_pJsBridge = nullptr;
    std::shared_ptr<Loop> m_pLoop;
    std::shared_ptr<Loop> m_savedLoop;
    std::atomic<bool> m_bActive { false };
    std::atomic<float> m_fTempo { 120.0f };
    // Guards m_pLoop between the audio thread and the message thread.
    mutable std::mutex m_mutex;
};
