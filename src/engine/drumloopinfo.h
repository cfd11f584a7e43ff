#pragma once

#include "core/zubtypes.h"

#include <json/value.h>

#include <memory>
#include <string>

// One drum loop file, described by its name: "bpm beats name words.ext",
// for example "120 16 Deep Groove.wav".
class DrumLoopInfo
{
public:
    // Null, with the error lines, for a name without a positive tempo, a
    // positive beat count and at least one name word.
    static std::unique_ptr<DrumLoopInfo> fromFileName(const std::string& folder, const std::string& fileName);
    // Tempo and beats of a file name; false when it does not parse as above.
    static bool parseFileName(const std::string& fileName, int32& bpm, int32& beats);

    const std::string& fileName() const { return m_fileName; }
    const std::string& displayName() const { return m_displayName; }
    const std::string& art() const { return m_art; }
    int32 bpm() const { return m_bpm; }
    int32 beats() const { return m_beats; }

    Json::Value toJson() const;

private:
    DrumLoopInfo() = default;

    std::string m_fileName;
    std::string m_displayName;
    std::string m_art;
    int32 m_bpm = 0;
    int32 m_beats = 0;
};
