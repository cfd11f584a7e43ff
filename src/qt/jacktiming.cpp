#include "qt/jacktiming.h"

#include <QRegularExpression>
#include <cstring>
#include <pa_jack.h>

JackTiming* JackTiming::s_pCurrent = nullptr;

JackTiming* JackTiming::open()
{
    jack_status_t status;
    jack_client_t* client = jack_client_open("motifo-timing", JackNoStartServer, &status);
    return client ? new JackTiming(client) : nullptr;
}

JackTiming::JackTiming(jack_client_t* client)
    : m_pClient(client)
    , m_rate(double(jack_get_sample_rate(client)))
{
    m_lastFrames = jack_frame_time(client);
    m_frames = m_lastFrames;
    s_pCurrent = this;
    jack_on_info_shutdown(m_pClient, &JackTiming::onShutdown, this);
}

void JackTiming::onShutdown(jack_status_t, const char* reason, void* arg)
{
    auto* self = static_cast<JackTiming*>(arg);
    if (reason)
        std::strncpy(self->m_shutdownReason, reason, sizeof self->m_shutdownReason - 1);
    self->m_bServerGone.store(true, std::memory_order_release);
}

QString JackTiming::shutdownReason() const
{
    return serverGone() ? QString::fromUtf8(m_shutdownReason) : QString();
}

JackTiming::~JackTiming()
{
    if (s_pCurrent == this)
        s_pCurrent = nullptr;
    jack_client_close(m_pClient);
}

std::array<jack_port_t*, JackTiming::MAX_PORTS> JackTiming::streamPorts(bool output) const
{
    std::array<jack_port_t*, MAX_PORTS> found {};
    const char* name = nullptr;
    if (PaJack_GetClientName(&name) != paNoError || !name)
        return found;
    const QString pattern = "^" + QRegularExpression::escape(QString::fromUtf8(name)) + (output ? ":out_" : ":in_");
    const char** ports = jack_get_ports(m_pClient, pattern.toUtf8().constData(), JACK_DEFAULT_AUDIO_TYPE, 0);
    for (int i = 0; ports && ports[i] && i < MAX_PORTS; ++i)
        found[i] = jack_port_by_name(m_pClient, ports[i]);
    jack_free(ports);
    return found;
}

double JackTiming::cycleStart()
{
    const uint32_t frames = jack_last_frame_time(m_pClient);
    m_frames += uint32_t(frames - m_lastFrames);
    m_lastFrames = frames;
    return double(m_frames) / m_rate;
}

bool JackTiming::cycleStartFromNow(int64_t& micros) const
{
    jack_nframes_t frames;
    jack_time_t startUs, nextUs;
    float periodUs;
    if (jack_get_cycle_times(m_pClient, &frames, &startUs, &nextUs, &periodUs) != 0)
        return false;
    micros = int64_t(startUs) - int64_t(jack_get_time());
    // A server whose times make no sense leaves the cycle to the caller's own timing.
    return micros > -1000000 && micros < 1000000;
}

int JackTiming::latencyFrames(const std::array<jack_port_t*, MAX_PORTS>& ports, bool output)
{
    int frames = 0;
    for (jack_port_t* port : ports) {
        if (!port)
            continue;
        jack_latency_range_t range;
        jack_port_get_latency_range(port, output ? JackPlaybackLatency : JackCaptureLatency, &range);
        frames = std::max(frames, int(range.max));
    }
    return frames;
}
