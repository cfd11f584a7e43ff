#pragma once

#include "engine/drumloopinfo.h"

#include <json/value.h>

#include <memory>
#include <string>
#include <vector>

// The drum loop files of a folder (WAV or Ogg Vorbis, named "bpm beats
// name.ext"), sorted by file name. GUI thread only.
class DrumLoopCollection
{
public:
    explicit DrumLoopCollection(const std::string& folder);

    // Forgets the entries and lists the folder again.
    void scan(const std::string& folder);
    const std::string& folder() const { return m_folder; }
    std::size_t size() const { return m_entries.size(); }
    const DrumLoopInfo* at(std::size_t index) const;

    // Key "drum_loop_collection".
    void toJson(Json::Value& root) const;

private:
    std::string m_folder;
    std::vector<std::unique_ptr<DrumLoopInfo>> m_entries;
};
