#pragma once

#include "core/playbackengine.h"
#include "core/zubtypes.h"
#include "synth/synthprogram.h"

#include <memory>
#include <vector>

class SynthEventQueue;

// Base of a polyphonic synthesizer: a program bank, a voice-to-note table and
// a timed event queue. Notes are queued on one writer thread (noteOn/noteOff)
// and reach the audio thread (process) only through the queue.
class SynthEngine : public PlaybackEngine
{
public:
    SynthEngine(int numVoices, int numInputs, int numOutputs, const char* productName, const char* vendorName,
        const char* effectName, int version);
    virtual ~SynthEngine();
    SynthEngine(const SynthEngine&) = delete;
    SynthEngine& operator=(const SynthEngine&) = delete;

    // Audio thread: renders numFrames frames into outputs[0] and outputs[1].
    virtual void process(float** inputs, float** outputs, int numFrames) = 0;
    // Audio thread: adds numFrames frames to an interleaved stereo buffer.
    void process(float* buffer, int numFrames) override = 0;
    // Loader thread, while the audio thread is not rendering this engine.
    virtual void setProgram(int index);
    // Audio thread, from the queued events only.
    virtual void startNote(int note, int velocity) = 0;
    virtual void stopNote(int note) = 0;
    virtual void setPitchBend(float value) = 0;

    void setSampleRate(float rate) { m_sampleRate = rate; }
    float sampleRate() const { return m_sampleRate; }

    // Writer thread. Each returns 0, or -1 when the queue was full and the
    // event was dropped.
    int noteOn(int note, int velocity, int delay);
    int noteOff(int note, int delay);
    int pitchBend(float value, int delay);
    // Returns how many of the 128 note-offs were dropped.
    int allNotesOff();

    void addProgram(const SynthProgram& program);
    int numPrograms() const { return static_cast<int>(m_programs.size()); }
    const SynthProgram& program(int index) const { return m_programs[index]; }
    SynthProgram* currentProgram() { return &m_programs[m_iCurrentProgram]; }
    int currentProgramIndex() const { return m_iCurrentProgram; }

    int numVoices() const { return m_numVoices; }
    // -1 free, -2 releasing, otherwise the note the voice plays.
    int voiceNote(int voice) const { return m_voiceNotes[voice]; }
    int numInputs() const { return m_numInputs; }
    int numOutputs() const { return m_numOutputs; }
    const char* productName() const { return m_productName; }
    const char* vendorName() const { return m_vendorName; }
    const char* effectName() const { return m_effectName; }
    int version() const { return m_version; }
    float tempo() const { return m_tempo; }

protected:
    // Audio thread, once before every output frame.
    void dispatchEvents();
    // Audio thread: entries left waiting by the last pass (delays, a burst).
    bool hasPendingEvents() const;

    int32 m_numInputs;
    int32 m_numOutputs;
    const char* m_productName;
    const char* m_vendorName;
    const char* m_effectName;
    int32 m_version;
    float m_sampleRate = 44100.0f;
    int32 m_reserved[3] = { 0, 0, 0 };
    float m_tempo = 120.0f;
    std::vector<SynthProgram> m_programs;
    int32 m_numVoices;
    // An index, not a pointer: appending programs moves them.
    int m_iCurrentProgram = 0;
    std::vector<int32> m_voiceNotes;
    std::unique_ptr<SynthEventQueue> m_pEventQueue;
};
