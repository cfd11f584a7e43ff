#include "engine/transport.h"

#include <algorithm>
#include <cmath>

Transport& Transport::instance()
{
    static Transport* transport = new Transport;
    return *transport;
}

const ZubClock& Transport::clock() const
{
    const ZubClock* clock = m_pClock.load(std::memory_order_relaxed);
    return clock ? *clock : ZubClock::system();
}

void Transport::setClock(const ZubClock* clock)
{
    m_pClock.store(clock, std::memory_order_relaxed);
}

void Transport::process(float*, int numFrames)
{
    const int64 start = m_position.fetch_add(numFrames, std::memory_order_relaxed);
    m_stamp.store({ start, clock().nowMicros(), numFrames });
}

void Transport::restamp()
{
    m_stamp.store({ position(), clock().nowMicros(), 0 });
}

int64 Transport::frameNow() const
{
    const CycleStamp stamp = m_stamp.load();
    const int64 elapsedUs = clock().nowMicros() - stamp.startUs;
    const int64 elapsed = int64(std::floor(double(elapsedUs) / ZUB_MICROSECONDS_PER_FRAME));
    return stamp.frame + std::clamp<int64>(elapsed, 0, std::max<int64>(stamp.frames - 1, 0));
}

double Transport::beatPosition() const
{
    const BeatGrid g = grid();
    const int64 pos = position();
    const int64 beat = g.beatAt(pos);
    const int64 start = g.beatStart(beat);
    return double(beat) + double(pos - start) / double(g.beatStart(beat + 1) - start);
}

void Transport::setBeatPosition(double beats)
{
    const BeatGrid g = grid();
    const double whole = std::floor(beats);
    const int64 start = g.beatStart(int64(whole));
    setPosition(start + std::llround((beats - whole) * double(g.beatStart(int64(whole) + 1) - start)));
}

int64 Transport::microsecondsSinceBeat() const
{
    const BeatGrid g = grid();
    const int64 pos = position();
    return static_cast<int64>((pos - g.beatStart(g.beatAt(pos))) * ZUB_MICROSECONDS_PER_FRAME);
}
