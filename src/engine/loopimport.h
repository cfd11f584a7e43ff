#pragma once

#include <string>

class ZubEngine;

// A WAV file from elsewhere made a loop of the active idea: converted to the
// engine's rate in stereo, then a power-of-two number of beats long at the
// song's tempo so that it stays in time. GUI thread.
class LoopImport
{
public:
    // Longer sound is refused: a loop is a sketch, not a whole recording.
    static constexpr double MAX_SECONDS = 180.0;

    explicit LoopImport(ZubEngine* engine);

    // Returns 0 with what was done to the sound in message (empty when it
    // went in as it was), or 1 with why it was refused; nothing changes then.
    int addToActiveIdea(const std::string& path, std::string& message);

private:
    ZubEngine* m_pEngine;
};
