#include "loopbackclient.h"

#include <algorithm>

namespace {
constexpr float kPassGain = 0.1f;
}

LoopbackClient::LoopbackClient(int delayFrames, bool declareLatency)
    : m_delay(delayFrames)
    , m_bDeclare(declareLatency)
    , m_ring(std::size_t(std::max(delayFrames, 1)), 0.0f)
{
}

LoopbackClient::~LoopbackClient()
{
    if (m_pClient) {
        jack_deactivate(m_pClient);
        jack_client_close(m_pClient);
    }
}

bool LoopbackClient::start(const char* clientName)
{
    m_pClient = jack_client_open(clientName, JackNoStartServer, nullptr);
    if (!m_pClient)
        return false;
    m_pIn = jack_port_register(m_pClient, "in", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
    m_pOut = jack_port_register(m_pClient, "out", JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0);
    if (!m_pIn || !m_pOut || jack_set_process_callback(m_pClient, &LoopbackClient::process, this) != 0
        || jack_set_latency_callback(m_pClient, &LoopbackClient::latency, this) != 0)
        return false;
    return jack_activate(m_pClient) == 0;
}

QString LoopbackClient::inputPort() const
{
    return m_pIn ? QString::fromUtf8(jack_port_name(m_pIn)) : QString();
}

QString LoopbackClient::outputPort() const
{
    return m_pOut ? QString::fromUtf8(jack_port_name(m_pOut)) : QString();
}

int LoopbackClient::process(jack_nframes_t numFrames, void* self)
{
    // JACK's process thread.
    auto* c = static_cast<LoopbackClient*>(self);
    const auto* in = static_cast<const float*>(jack_port_get_buffer(c->m_pIn, numFrames));
    auto* out = static_cast<float*>(jack_port_get_buffer(c->m_pOut, numFrames));
    for (jack_nframes_t i = 0; i < numFrames; ++i) {
        // The ring holds the last `delay` inputs: the oldest leaves as the newest comes.
        out[i] = c->m_ring[c->m_pos];
        c->m_ring[c->m_pos] = kPassGain * in[i];
        c->m_pos = (c->m_pos + 1) % c->m_ring.size();
    }
    return 0;
}

void LoopbackClient::latency(jack_latency_callback_mode_t mode, void* self)
{
    auto* c = static_cast<LoopbackClient*>(self);
    const jack_nframes_t declared = !c->m_bDeclare ? 0
        : mode == JackPlaybackLatency              ? jack_nframes_t(c->m_delay)
                                                   : jack_get_buffer_size(c->m_pClient);
    jack_latency_range_t range { declared, declared };
    jack_port_set_latency_range(mode == JackPlaybackLatency ? c->m_pIn : c->m_pOut, mode, &range);
}
