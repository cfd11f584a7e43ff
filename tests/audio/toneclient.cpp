#include "toneclient.h"

#include <cmath>
#include <numbers>

ToneClient::ToneClient(double hz, float amplitude)
    : m_hz(hz)
    , m_amplitude(amplitude)
{
}

ToneClient::~ToneClient()
{
    if (m_pClient) {
        jack_deactivate(m_pClient);
        jack_client_close(m_pClient);
    }
}

bool ToneClient::start(const char* clientName)
{
    m_pClient = jack_client_open(clientName, JackNoStartServer, nullptr);
    if (!m_pClient)
        return false;
    // The tone keeps its pitch at whatever rate the server runs.
    m_phaseStep = 2.0 * std::numbers::pi * m_hz / double(jack_get_sample_rate(m_pClient));
    m_pPort = jack_port_register(m_pClient, "out", JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0);
    if (!m_pPort || jack_set_process_callback(m_pClient, &ToneClient::process, this) != 0)
        return false;
    return jack_activate(m_pClient) == 0;
}

QString ToneClient::portName() const
{
    return m_pPort ? QString::fromUtf8(jack_port_name(m_pPort)) : QString();
}

void ToneClient::setGate(int onFrames, int offFrames)
{
    m_onFrames = onFrames;
    m_offFrames = offFrames;
}

int ToneClient::process(jack_nframes_t numFrames, void* self)
{
    // JACK's process thread.
    auto* t = static_cast<ToneClient*>(self);
    t->m_cycles.fetch_add(1);
    auto* out = static_cast<float*>(jack_port_get_buffer(t->m_pPort, numFrames));
    const long on = t->m_onFrames.load();
    const long period = on + t->m_offFrames.load();
    for (jack_nframes_t i = 0; i < numFrames; ++i) {
        const bool sounding = t->m_gatePos % period < on;
        out[i] = sounding ? t->m_amplitude * float(std::sin(t->m_phase)) : 0.0f;
        t->m_phase = sounding ? std::fmod(t->m_phase + t->m_phaseStep, 2.0 * std::numbers::pi) : 0.0;
        ++t->m_gatePos;
    }
    return 0;
}
