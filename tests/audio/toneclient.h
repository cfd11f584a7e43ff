#pragma once

#include <QString>
#include <atomic>
#include <jack/jack.h>

// A JACK client of the test's own with one output port that plays a sine:
// the test tone fed into Motifo's input.
class ToneClient
{
public:
    ToneClient(double hz, float amplitude);
    ~ToneClient();

    // Connects to the running server (JACK_DEFAULT_SERVER) and starts playing.
    bool start(const char* clientName = "tone");
    // "tone:out"
    QString portName() const;

    // Plays the tone for onFrames, then silence for offFrames, repeatedly;
    // 0 off frames play it without a break.
    void setGate(int onFrames, int offFrames);
    // The cycles the server has run this client for: the server's own clock.
    long cycles() const { return m_cycles.load(); }

    ToneClient(const ToneClient&) = delete;
    ToneClient& operator=(const ToneClient&) = delete;

private:
    static int process(jack_nframes_t numFrames, void* self);

    const double m_hz;
    double m_phaseStep = 0.0;
    const float m_amplitude;
    double m_phase = 0.0;
    long m_gatePos = 0;
    std::atomic<int> m_onFrames { 1 };
    std::atomic<int> m_offFrames { 0 };
    std::atomic<long> m_cycles { 0 };
    jack_client_t* m_pClient = nullptr;
    jack_port_t* m_pPort = nullptr;
};
