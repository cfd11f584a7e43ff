#pragma once

#include "core/zubtypes.h"

class NativeAudioInterface;
class Transport;

// The span of an offline render on the GUI thread: the live stream is stopped
// (so no audio callback runs meanwhile) and the transport starts at 0; at the
// end the transport position is restored and the stream started again.
class OfflineSection
{
public:
    OfflineSection(Transport& transport, NativeAudioInterface* audioInterface);
    ~OfflineSection();

    OfflineSection(const OfflineSection&) = delete;
    OfflineSection& operator=(const OfflineSection&) = delete;

private:
    Transport& m_transport;
    NativeAudioInterface* m_pAudioInterface;
    int64 m_savedTransportPos = 0;
};
