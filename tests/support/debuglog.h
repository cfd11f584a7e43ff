#pragma once

#include "core/log.h"

#include <cstdlib>

// Debug lines on for a test's scope; afterwards back to what MOTIFO_LOG says.
class DebugLogOn
{
public:
    DebugLogOn() { Log::setDebugEnabled(true); }
    ~DebugLogOn() { Log::setDebugEnabled(Log::debugFromEnvironment(std::getenv("MOTIFO_LOG"))); }
    DebugLogOn(const DebugLogOn&) = delete;
    DebugLogOn& operator=(const DebugLogOn&) = delete;
};
