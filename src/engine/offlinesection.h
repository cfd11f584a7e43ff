#pragma once

#include "core/zubtypes.h"

class ZubEngine;

// The span of an offline render on the GUI thread: the live stream is stopped
// (so no audio callback runs meanwhile) and the transport starts at 0; at the
// end the transport position is restored and the stream started again. Both
// times the engine's components are aligned to the transport while no cycle
// runs, so neither the render nor the first live cycle after it starts from
// stale positions, and notes played after it count from the restored position.
class OfflineSection
{
public:
    explicit OfflineSection(ZubEngine& engine);
    ~OfflineSection();

    OfflineSection(const OfflineSection&) = delete;
    OfflineSection& operator=(const OfflineSection&) = delete;

private:
    ZubEngine& m_engine;
    int64 m_savedTransportPos = 0;
};
