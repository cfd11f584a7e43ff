#pragma once

#include "core/playbackengine.h"
#include "core/zubtypes.h"
#include "loops/midirecorder.h"

#include <json/value.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class FreestyleTempoDetector;
class Loop;
class LoopPool;
class NativeJsBridge;
class StatePoster;
class TakeCopier;

// Records free playing that keeps to no tempo. A take starts when the user
// plays (a key, or live input rising above its noise floor) and ends after
// more than a second of silence; it becomes the newest of a ring of five take
// loops that the page lists and auditions, and one of them can go to the tempo
// detector. The audio thread calls record and process; key input, JSON
// commands and the engine come from other threads. A finished take is copied
// into its loop on the take copier's thread and is listed once it is there.
// Lock order: this recorder, the copier, a loop.
class FreestyleRecorder final : public PlaybackEngine
{
public:
    static constexpr int64 BUFFER_SAMPLES = 5644800; // 64 seconds
    static constexpr int64 BUFFER_FRAMES = BUFFER_SAMPLES / ZUB_FRAMESIZE;
    static constexpr int NUM_TAKES = 5;
    static constexpr double SILENCE_THRESHOLD = 0.05;
    // More silent frames than this end a take.
    static constexpr uint64_t SILENCE_FRAMES = 44100;
    // Live input is left this long to settle before it can start a take.
    static constexpr uint64_t SETTLING_FRAMES = 44100;
    // Notes a take stamps; key presses beyond are not recorded, so that
    // handing the notes over always fits the room reserved for them.
    static constexpr std::size_t MAX_TAKE_EVENTS = 8192;

    enum State { STATE_IDLE = 0, STATE_RECORDING = 1, STATE_SUSPENDED = 2 };
    enum InputMode { INPUT_KEYS = 0, INPUT_AUDIO = 1 };

    FreestyleRecorder(LoopPool* loopPool, FreestyleTempoDetector* tempoDetector);
    ~FreestyleRecorder();

    // Audio thread: plays the takes.
    void process(float* out, int numFrames) override;
    // Audio thread: analyses the input, starts and ends takes, captures.
    void record(float* in, int numFrames);
    // The same where `in` holds live input (`live`, its part of `in`) that
    // arrived `lateFrames` after the musician played it to what they heard:
    // the rest of `in` goes into the take that much later, to meet it.
    void recordLate(float* in, const float* live, int numFrames, int64 lateFrames);
    // What the rest can be delayed by at most.
    static constexpr int64 MAX_LATENESS_FRAMES = 32767;

    // Key and MIDI threads. A key starts a take when none is being recorded;
    // a take's notes are timed from the transport frame it started at
    // (transportFrame: where the audio was when the key moved).
    void noteOn(int note, int64 transportFrame);
    void noteOff(int note, int64 transportFrame);
    void setInputMode(int inputMode);
    int inputMode() const { return m_inputMode.load(); }
    void setJsBridge(NativeJsBridge* bridge);

    // Makes the take buffers on first use: call from the message thread.
    void activate();
    void suspend();
    // Message thread: an idea took this take over, so it leaves the ring and a
    // fresh loop takes its place. Returns 0, or 1 when it is not a take.
    int releaseTake(const std::shared_ptr<Loop>& take);

    int state() const;
    std::string status() const;
    // Newest first, every take ended so far included: waits for the copier.
    std::vector<std::shared_ptr<Loop>> takes() const;
    // For tests: while paused, finished takes wait to be copied.
    void pauseTakeCopies(bool paused);
    // Returns once every state push asked for so far has reached the bridge.
    void flushStatePushes();

    void toJson(Json::Value& root) const;
    void handleJson(const Json::Value& root);

private:
    void analyseInput(const float* in, int numFrames);
    bool waitForSignal(const float* in, int numFrames, double threshold);
    void capture(const float* in, int numFrames);
    void endIfSilent(const float* in, int numFrames);
    void captureLate(const float* in, const float* live, int numFrames, int64 lateFrames);
    bool startTake(int64 originFrame);
    int64 noteTimeUs(int64 transportFrame) const;
    void storeTake();
    void goIdle(bool muteTakes);
    void setStatus(int status);
    void doTempoDetection();
    void applyLoopEntries(const Json::Value& entries);
    void solo(long long id);
    std::shared_ptr<Loop> findTake(long long id) const;
    std::shared_ptr<Loop> makeTake() const;
    std::shared_ptr<Loop> oldestTake() const;
    void makeNewest(const std::shared_ptr<Loop>& take);
    Json::Value stateJson(int status) const;
    std::string stateText(int status) const;

    FreestyleTempoDetector* m_pTempoDetector;
    LoopPool* m_pLoopPool;
    // Stamps the notes of the take being recorded.
    MidiRecorder m_midiRecorder;
    double m_dLevel = 0.0;
    double m_dNoise = 0.0;
    // Low-pass state of the input analysis, one per channel.
    double m_yL = 0.0;
    double m_yR = 0.0;
    std::vector<std::shared_ptr<Loop>> m_loops;
    uint64_t m_silentFrames = 0;
    int32 m_state = STATE_SUSPENDED;
    int32 m_framesRecorded = 0;
    uint64_t m_waitFrames = 0;
    // The transport frame the take's note times count from.
    std::atomic<int64> m_takeOriginFrame { 0 };
    bool m_bActive = false;
    // Suspended by handing a take to the tempo detector: the next activate
    // resumes with the takes as they are rather than muting them.
    bool m_bLentToDetector = false;
    std::atomic<int32> m_inputMode { INPUT_KEYS };
    int m_status;
    // The last MAX_LATENESS_FRAMES + 1 frames of what was heard besides live
    // input, a ring from m_heardPos; made on activation.
    std::vector<float> m_heard;
    int64 m_heardPos = 0;
    // A piece of late input lined up with what was heard.
    static constexpr int ALIGN_FRAMES = 256;
    float m_aligned[ALIGN_FRAMES * ZUB_FRAMESIZE];
    // The copier's buffer the take being recorded goes into; null between takes.
    float* m_pCapture = nullptr;
    mutable std::recursive_mutex m_mutex;
    // Goes before the ring and the lock it uses.
    std::unique_ptr<TakeCopier> m_pCopier;
    // Last: goes first, while what it reads still exists.
    std::unique_ptr<StatePoster> m_pPoster;
};
