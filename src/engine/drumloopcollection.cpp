#include "engine/drumloopcollection.h"

#include "core/log.h"

#include <algorithm>
#include <filesystem>

DrumLoopCollection::DrumLoopCollection(const std::string& folder)
{
    scan(folder);
}

void DrumLoopCollection::scan(const std::string& folder)
{
    m_folder = folder;
    m_entries.clear();
    std::error_code ec;
    std::filesystem::directory_iterator it(folder, ec);
    if (ec) {
        logError() << "Couldn't open directory: " << folder;
        return;
    }
    std::vector<std::string> names;
    for (; !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.ends_with(".wav") || name.ends_with(".ogg"))
            names.push_back(name);
    }
    // The listing order of the file system means nothing to the user.
    std::sort(names.begin(), names.end());
    for (const std::string& name : names)
        if (std::unique_ptr<DrumLoopInfo> info = DrumLoopInfo::fromFileName(folder, name))
            m_entries.push_back(std::move(info));
}

const DrumLoopInfo* DrumLoopCollection::at(std::size_t index) const
{
    return index < m_entries.size() ? m_entries[index].get() : nullptr;
}

void DrumLoopCollection::toJson(Json::Value& root) const
{
    Json::Value& loops = root["drum_loop_collection"]["drum_loops"] = Json::Value(Json::arrayValue);
    for (const auto& entry : m_entries)
        loops.append(entry->toJson());
}
