#pragma once

class NativeAudioManagerInterface;
class ZubApi;
class ZubEngine;

// Holds the engine and its JSON API; created once at start-up. Neither is
// torn down before the process ends (the audio thread may still be running).
class EngineContext
{
public:
    explicit EngineContext(NativeAudioManagerInterface* audioManager);

    ZubEngine* engine() const { return m_pEngine; }
    ZubApi* api() const { return m_pApi; }

private:
    ZubEngine* m_pEngine;
    ZubApi* m_pApi;
};
