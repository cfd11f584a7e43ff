#include "engine/offlinesection.h"

#include "core/nativeaudiointerface.h"
#include "engine/linksession.h"
#include "engine/transport.h"
#include "engine/zubengine.h"

OfflineSection::OfflineSection(ZubEngine& engine)
    : m_engine(engine)
{
    // Stopped first, so no callback moves the transport after it is saved.
    if (NativeAudioInterface* audio = m_engine.audioInterface())
        audio->stop();
    m_engine.linkSession()->setSuspended(true);
    Transport& transport = *m_engine.transport();
    m_savedTransportPos = transport.position();
    transport.setPosition(0);
    m_engine.alignToTransport();
}

OfflineSection::~OfflineSection()
{
    m_engine.transport()->setPosition(m_savedTransportPos);
    m_engine.alignToTransport();
    m_engine.linkSession()->setSuspended(false);
    if (NativeAudioInterface* audio = m_engine.audioInterface())
        audio->start();
}
