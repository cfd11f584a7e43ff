#pragma once

#include <QString>
#include <atomic>
#include <jack/jack.h>
#include <vector>

// A JACK client of the test's own standing in for an audio interface's round
// trip: what reaches its input leaves its output `delayFrames` later. Fed by
// Motifo and feeding it back, it also runs a cycle apart from it, so the
// whole round trip is the delay plus one period. Declaring, it tells JACK so
// the way a sound card's driver does: its input is a playback port `delay`
// frames from the listener, its output a capture port one period after the
// microphone. Each pass is quieter, so that what is played back while
// recording dies away.
class LoopbackClient
{
public:
    LoopbackClient(int delayFrames, bool declareLatency);
    ~LoopbackClient();

    bool start(const char* clientName = "loopback");
    QString inputPort() const;
    QString outputPort() const;

    LoopbackClient(const LoopbackClient&) = delete;
    LoopbackClient& operator=(const LoopbackClient&) = delete;

private:
    static int process(jack_nframes_t numFrames, void* self);
    static void latency(jack_latency_callback_mode_t mode, void* self);

    const int m_delay;
    const bool m_bDeclare;
    std::vector<float> m_ring;
    std::size_t m_pos = 0;
    jack_client_t* m_pClient = nullptr;
    jack_port_t* m_pIn = nullptr;
    jack_port_t* m_pOut = nullptr;
};
