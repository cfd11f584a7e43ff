#include "engine/enginecontext.h"

#include "engine/zubapi.h"
#include "engine/zubengine.h"

#include <cstdlib>
#include <ctime>

EngineContext::EngineContext(NativeAudioManagerInterface* audioManager)
{
    // Loop, idea and project ids come from rand() in 0..32767.
    std::srand(static_cast<unsigned>(std::time(nullptr)));
    m_pEngine = new ZubEngine(audioManager);
    m_pApi = new ZubApi(m_pEngine);
}
