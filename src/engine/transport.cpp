#include "engine/transport.h"

Transport& Transport::instance()
{
    static Transport* transport = new Transport;
    return *transport;
}

void Transport::process(float*, int numFrames)
{
    m_position.fetch_add(numFrames, std::memory_order_relaxed);
}

int64 Transport::microsecondsSinceBeat() const
{
    const int64 framesPerBeat = static_cast<int64>(1.0 / (bpm() / 60.0) * 44100.0);
    const int64 r = position() % framesPerBeat;
    return static_cast<int64>(r * ZUB_MICROSECONDS_PER_FRAME);
}
