#include "core/zubclock.h"

#include <chrono>

int64 ZubClock::nowMicros() const
{
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

ZubClock& ZubClock::system()
{
    static ZubClock clock;
    return clock;
}
