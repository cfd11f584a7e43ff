#include "engine/offlinesection.h"

#include "core/nativeaudiointerface.h"
#include "engine/transport.h"

OfflineSection::OfflineSection(Transport& transport, NativeAudioInterface* audioInterface)
    : m_transport(transport)
    , m_pAudioInterface(audioInterface)
{
    // Stopped first, so no callback moves the transport after it is saved.
    if (m_pAudioInterface)
        m_pAudioInterface->stop();
    m_savedTransportPos = m_transport.position();
    m_transport.setPosition(0);
}

OfflineSection::~OfflineSection()
{
    m_transport.setPosition(m_savedTransportPos);
    if (m_pAudioInterface)
        m_pAudioInterface->start();
}
