#pragma once

#include "engine/playbackengine.h"
#include "engine/zubtypes.h"

class MasterBus;
class Metronome;
class NativeAudioInterface;
class NativeAudioManagerInterface;
class NativeJsBridge;
class Transport;

// The audio engine: owns every sound-producing component and mixes them into
// one stereo buffer per audio callback.
class ZubEngine : public PlaybackEngine
{
public:
    // Upper bound the components accept in one call; larger host buffers are
    // processed in pieces.
    static constexpr int MAX_CYCLE_FRAMES = 16383;

    explicit ZubEngine(NativeAudioManagerInterface* audioManager);
    ~ZubEngine();

    void setJsBridge(NativeJsBridge* bridge);
    NativeJsBridge* jsBridge() const { return m_pJsBridge; }
    void setAudioInterface(NativeAudioInterface* audioInterface) { m_pAudioInterface = audioInterface; }
    NativeAudioInterface* audioInterface() const { return m_pAudioInterface; }

    // Audio thread (or the GUI thread while a render has stopped the stream).
    void process(float* buffer, int numFrames) override;

    // GUI and MIDI threads.
    void noteOn(int note, int velocity);
    void noteOff(int note);
    // Returns 0, or 1 (and changes nothing) for a tempo outside 30..200 bpm.
    int setTempo(float bpm);

    Metronome* metronome() const { return m_pMetronome; }
    Transport* transport() const { return m_pTransport; }

private:
    void processCycle(float* buffer, int numFrames);

    NativeAudioManagerInterface* m_pAudioManager;
    Metronome* m_pMetronome;
    Transport* m_pTransport;
    MasterBus* m_pMasterBus;
    NativeJsBridge* m_pJsBridge = nullptr;
    NativeAudioInterface* m_pAudioInterface = nullptr;
};
