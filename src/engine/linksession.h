#pragma once

#include "core/zubtypes.h"

#include <atomic>
#include <cstddef>
#include <memory>
#include <optional>

class Transport;

// Tempo and beat sync with other programs over Ableton Link. Off by default;
// the Link object (its sockets and threads) is made on the first switch-on,
// so a Motifo that never turns Link on opens no socket. The GUI thread
// switches it and reads or proposes the session's tempo and play state; the
// audio thread reads the session once per cycle and moves the transport onto
// the session's beats, bars of four beats starting together.
class LinkSession
{
public:
    // Beats of Motifo's bar: its bars start where the session's do.
    static constexpr double QUANTUM = 4.0;
    // Tempos closer than this are the same tempo (Link keeps doubles, the
    // transport floats).
    static constexpr double TEMPO_TOLERANCE = 0.005;
    // The transport is left alone while it is this close to the session's beats.
    static constexpr int64 TOLERANCE_FRAMES = 44;
    // Frames over which the output fades out before a jump and in after it.
    static constexpr int JUMP_FADE_FRAMES = 64;

    LinkSession();
    ~LinkSession();

    LinkSession(const LinkSession&) = delete;
    LinkSession& operator=(const LinkSession&) = delete;

    // GUI thread. Switching on with no peers around starts a session at bpm;
    // with peers it joins theirs.
    void setEnabled(bool enabled, double bpm);
    bool isEnabled() const { return m_bEnabled.load(std::memory_order_relaxed); }
    void setStartStopSync(bool sync);
    bool startStopSync() const { return m_bStartStopSync; }
    std::size_t numPeers() const;
    // The session's tempo; 0 while Link is off.
    double sessionTempo() const;
    void proposeTempo(double bpm);
    bool sessionPlaying() const;
    void proposePlaying(bool playing);
    // Any thread: how long after its cycle a frame is heard.
    void setOutputLatencyMicros(int64 micros) { m_outputLatencyUs.store(micros, std::memory_order_relaxed); }
    // GUI thread, while no cycle runs: offline renders are not synced.
    void setSuspended(bool suspended);

    // Audio thread, before the transport advances over the cycle's n frames.
    // Never allocates or waits. What the caller does to the cycle's output:
    enum class Step {
        None,
        // The next cycle jumps: fade the end of this one out.
        FadeOut,
        // The transport jumped onto the session's beats at this cycle's start:
        // fade its beginning in.
        FadeIn,
    };
    Step alignCycle(Transport& transport, int n);
    // Audio thread, around the cycles of one device buffer whose device has
    // a clock: its first frame starts playing at hostMicros on the Link
    // clock. Those cycles then take their time from the device, which
    // follows a step of its clock at once (a server that overran starts its
    // clock again), where the filter of callback times takes seconds to.
    void stampBuffer(int64 hostMicros);
    // The same, microsFromNow from now.
    void stampBufferFromNow(int64 microsFromNow);
    void endBuffer() { m_bStamped = false; }

private:
    struct Impl;

    std::unique_ptr<Impl> m_pImpl; // made on the first switch-on, kept until the end
    std::atomic<Impl*> m_pActive { nullptr }; // what the audio thread syncs with; null while off
    std::atomic<bool> m_bEnabled { false };
    std::atomic<bool> m_bSuspended { false };
    std::atomic<bool> m_bRestart { true };
    std::atomic<int64> m_outputLatencyUs { 0 };
    bool m_bStartStopSync = false;
    // Audio thread only.
    int64 m_sampleTime = 0;
    int64 m_lastCycleUs = 0;
    bool m_bJumpPending = false;
    // The beat position up to which the last cycle looked for a beat to land
    // on; none after a jump or a cycle that did not look.
    std::optional<double> m_lookedToBeat;
    bool m_bStamped = false;
    int64 m_stampUs = 0; // on the Link clock, when frame m_stampSample starts playing
    int64 m_stampSample = 0;
};
