#pragma once

class SynthEngine;

// Something the audio thread does to the engine when its countdown runs out.
// Events are plain values so the queue never touches the heap.
class SynthEvent
{
public:
    virtual void execute() = 0;

protected:
    explicit SynthEvent(SynthEngine* engine)
        : m_pEngine(engine)
    {
    }
    ~SynthEvent() = default;
    SynthEvent(const SynthEvent&) = default;
    SynthEvent& operator=(const SynthEvent&) = default;

    SynthEngine* m_pEngine;
};
