#pragma once

#include "core/zubclock.h"

// A clock the test moves by hand.
class SetClock : public ZubClock
{
public:
    int64 nowMicros() const override { return m_now; }
    int64 m_now = 0;
};
