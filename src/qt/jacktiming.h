#pragma once

#include <QString>
#include <array>
#include <atomic>
#include <cstdint>
#include <jack/jack.h>

// PortAudio's JACK host API reports neither the server's cycle times in a
// form two streams can compare nor the latency of the ports it connects. A
// second, port-less client on the same server reads both: the frame time at
// the start of each cycle and the latency ranges of PortAudio's ports, which
// JACK keeps up to date as connections change. The device enumerator opens
// it along with PortAudio and closes it before PortAudio ends.
class JackTiming
{
public:
    static constexpr int MAX_PORTS = 2;

    // Connects to a running server; null when there is none.
    static JackTiming* open();
    ~JackTiming();
    // The one open now, or null.
    static JackTiming* current() { return s_pCurrent; }

    // The stream's ports: PortAudio's client's outputs ("out_") or inputs
    // ("in_"). GUI thread, after the stream is opened.
    std::array<jack_port_t*, MAX_PORTS> streamPorts(bool output) const;

    // JACK's process thread: the start of the current cycle, in seconds.
    double cycleStart();
    // JACK's process thread: when the current cycle started by the server's
    // clock, in microseconds from now (negative); false before the server
    // has timed a cycle, or when its time is more than a second away.
    bool cycleStartFromNow(int64_t& micros) const;
    // JACK's process thread: the largest latency of the ports, in frames;
    // playback latency for outputs, capture latency for inputs.
    static int latencyFrames(const std::array<jack_port_t*, MAX_PORTS>& ports, bool output);

    // True once the server went away (it told this client so, or the
    // client lost it); the server's reason then, in its words.
    bool serverGone() const { return m_bServerGone.load(std::memory_order_acquire); }
    QString shutdownReason() const;

    JackTiming(const JackTiming&) = delete;
    JackTiming& operator=(const JackTiming&) = delete;

private:
    explicit JackTiming(jack_client_t* client);
    // libjack's thread: the server is gone.
    static void onShutdown(jack_status_t, const char* reason, void* arg);

    static JackTiming* s_pCurrent;
    jack_client_t* m_pClient;
    double m_rate;
    // The frame time widened to 64 bits across its wrap (about a day at 48 kHz).
    uint32_t m_lastFrames = 0;
    int64_t m_frames = 0;
    char m_shutdownReason[256] = {};
    std::atomic<bool> m_bServerGone { false };
};
