#include "engine/linksession.h"

#include "core/beatgrid.h"
#include "core/log.h"
#include "engine/transport.h"

#include <ableton/Link.hpp>
#include <ableton/link/HostTimeFilter.hpp>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <utility>

namespace {

// A gap this long between cycles means the stream stopped and started again.
constexpr int64 kRestartGapUs = 200000;
// A landing point that moved further than this in one cycle was moved by
// something other than a skipped cycle (the song was moved), and looks ahead
// from where it is.
constexpr double kMaxLeapBeats = 0.25;

} // namespace

struct LinkSession::Impl
{
    explicit Impl(double bpm)
        : link(bpm)
    {
    }

    ableton::Link link;
    // Audio thread: the frames played, mapped onto the Link clock.
    ableton::link::HostTimeFilter<ableton::link::platform::Clock> hostTime;
};

LinkSession::LinkSession() = default;

LinkSession::~LinkSession()
{
    if (m_pImpl)
        m_pImpl->link.enable(false);
}

void LinkSession::setEnabled(bool enabled, double bpm)
{
    if (enabled == isEnabled())
        return;
    if (!enabled) {
        m_pActive.store(nullptr, std::memory_order_release);
        m_bEnabled.store(false, std::memory_order_relaxed);
        m_pImpl->link.enable(false);
        logInfo() << "Link off";
        return;
    }
    if (!m_pImpl)
        m_pImpl = std::make_unique<Impl>(bpm);
    m_pImpl->link.enableStartStopSync(m_bStartStopSync);
    // Alone, the session starts at our tempo; peers that are there already
    // keep theirs and we take it.
    proposeTempo(bpm);
    m_pImpl->link.enable(true);
    m_bRestart.store(true, std::memory_order_relaxed);
    m_bEnabled.store(true, std::memory_order_relaxed);
    m_pActive.store(m_pImpl.get(), std::memory_order_release);
    logInfo() << "Link on, " << m_pImpl->link.numPeers() << " peers";
}

void LinkSession::setStartStopSync(bool sync)
{
    m_bStartStopSync = sync;
    if (m_pImpl)
        m_pImpl->link.enableStartStopSync(sync);
}

std::size_t LinkSession::numPeers() const
{
    return isEnabled() ? m_pImpl->link.numPeers() : 0;
}

double LinkSession::sessionTempo() const
{
    return isEnabled() ? m_pImpl->link.captureAppSessionState().tempo() : 0.0;
}

void LinkSession::proposeTempo(double bpm)
{
    if (!m_pImpl)
        return;
    auto state = m_pImpl->link.captureAppSessionState();
    state.setTempo(bpm, m_pImpl->link.clock().micros());
    m_pImpl->link.commitAppSessionState(state);
}

bool LinkSession::sessionPlaying() const
{
    return isEnabled() && m_pImpl->link.captureAppSessionState().isPlaying();
}

void LinkSession::proposePlaying(bool playing)
{
    if (!isEnabled())
        return;
    auto state = m_pImpl->link.captureAppSessionState();
    state.setIsPlaying(playing, m_pImpl->link.clock().micros());
    m_pImpl->link.commitAppSessionState(state);
}

void LinkSession::setSuspended(bool suspended)
{
    m_bSuspended.store(suspended, std::memory_order_relaxed);
    m_bRestart.store(true, std::memory_order_relaxed);
}

void LinkSession::stampBuffer(int64 hostMicros)
{
    m_stampUs = hostMicros;
    m_stampSample = m_sampleTime;
    m_bStamped = true;
}

void LinkSession::stampBufferFromNow(int64 microsFromNow)
{
    if (Impl* impl = m_pActive.load(std::memory_order_acquire))
        stampBuffer(impl->link.clock().micros().count() + microsFromNow);
}

LinkSession::Step LinkSession::alignCycle(Transport& transport, int n)
{
    Impl* impl = m_pActive.load(std::memory_order_acquire);
    if (!impl || m_bSuspended.load(std::memory_order_relaxed)) {
        m_lookedToBeat.reset();
        const bool wasPending = std::exchange(m_bJumpPending, false);
        return wasPending ? Step::FadeIn : Step::None;
    }
    // A stream that stopped and started again (or a first cycle) maps its
    // frames onto the clock afresh.
    const int64 nowUs = impl->link.clock().micros().count();
    if (m_bRestart.exchange(false, std::memory_order_relaxed) || nowUs - m_lastCycleUs > kRestartGapUs)
        impl->hostTime.reset();
    m_lastCycleUs = nowUs;
    // The filter is fed every cycle, so that it is ready when the stamps stop.
    std::chrono::microseconds start = impl->hostTime.sampleTimeToHostTime(double(m_sampleTime));
    if (m_bStamped)
        start = std::chrono::microseconds(m_stampUs + framesToMicroseconds(m_sampleTime - m_stampSample));
    const std::chrono::microseconds heard = start + std::chrono::microseconds(m_outputLatencyUs.load(std::memory_order_relaxed));
    m_sampleTime += n;

    const auto session = impl->link.captureAudioSessionState();
    const double bpm = transport.bpm();
    // Until the GUI thread has taken the session's tempo, beats cannot meet.
    if (std::abs(session.tempo() - bpm) > TEMPO_TOLERANCE) {
        m_lookedToBeat.reset();
        const bool wasPending = std::exchange(m_bJumpPending, false);
        return wasPending ? Step::FadeIn : Step::None;
    }
    const double local = transport.beatPosition();
    // The shortest way onto the session's phase within a bar.
    const double diff = std::remainder(session.beatAtTime(heard, QUANTUM) - local, QUANTUM);
    if (m_bJumpPending) {
        m_bJumpPending = false;
        m_lookedToBeat.reset();
        transport.setBeatPosition(local + diff);
        return Step::FadeIn;
    }
    // Jump at the start of the cycle that holds the next beat boundary, so
    // the beat itself sounds whole and on time: a jump forward is timed by
    // where it lands, lest it pass over the beat, a jump back by where it
    // leaves, lest the beat sound twice.
    const double framesPerBeat = BeatGrid(bpm).framesPerBeat();
    const double cycleBeats = double(n) / framesPerBeat;
    const double from = local + std::max(diff, 0.0);
    // Where the next cycle lands moves on a cycle at a time, but leaps when
    // the server skips a cycle: a beat it leapt over since the last cycle
    // looked ahead is jumped to now, late by less than the leap, rather than
    // a whole beat later.
    double lookFrom = from + cycleBeats;
    if (m_lookedToBeat && *m_lookedToBeat < lookFrom && *m_lookedToBeat > lookFrom - kMaxLeapBeats)
        lookFrom = *m_lookedToBeat;
    m_lookedToBeat = from + 2.0 * cycleBeats;
    if (std::abs(diff) * framesPerBeat <= double(TOLERANCE_FRAMES))
        return Step::None;
    if (std::floor(from + 2.0 * cycleBeats) > std::floor(lookFrom)) {
        m_bJumpPending = true;
        return Step::FadeOut;
    }
    return Step::None;
}
