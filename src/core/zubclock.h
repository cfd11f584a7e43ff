#pragma once

#include "core/zubtypes.h"

// Monotonic microsecond clock. Note time stamps and the input level stamp
// read it; tests hand components a clock they can set.
class ZubClock
{
public:
    virtual ~ZubClock() = default;
    virtual int64 nowMicros() const;

    // The process-wide steady clock.
    static ZubClock& system();
};
