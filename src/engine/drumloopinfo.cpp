#include "engine/drumloopinfo.h"

#include "core/log.h"
#include "core/tokenizer.h"

#include <cerrno>
#include <cstdlib>

namespace {

constexpr std::size_t kExtensionLength = 4; // ".wav", ".ogg"

// A whole positive number that fits an int32; atoi would read "x" as 0.
bool positiveNumber(const std::string& text, int32& value)
{
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || v <= 0 || v > INT32_MAX)
        return false;
    value = static_cast<int32>(v);
    return true;
}

} // namespace

bool DrumLoopInfo::parseFileName(const std::string& fileName, int32& bpm, int32& beats)
{
    const std::vector<std::string> tokens = Tokenizer::split(fileName, " ");
    return tokens.size() >= 3 && positiveNumber(tokens[0], bpm) && positiveNumber(tokens[1], beats);
}

std::unique_ptr<DrumLoopInfo> DrumLoopInfo::fromFileName(const std::string& folder, const std::string& fileName)
{
    std::unique_ptr<DrumLoopInfo> info(new DrumLoopInfo);
    if (!parseFileName(fileName, info->m_bpm, info->m_beats)) {
        // Skipped: one badly named file must not keep the program from starting.
        logError() << "***";
        logError() << "Error: Invalid drum loop name:" << fileName << "***";
        return nullptr;
    }
    const std::vector<std::string> tokens = Tokenizer::split(fileName, " ");
    std::string words;
    for (std::size_t i = 2; i < tokens.size(); ++i)
        words += (i > 2 ? " " : "") + tokens[i];
    info->m_fileName = fileName;
    info->m_displayName = words.substr(0, words.size() - std::min(words.size(), kExtensionLength));
    info->m_art = folder + "/" + fileName.substr(0, fileName.size() - kExtensionLength) + ".png";
    return info;
}

Json::Value DrumLoopInfo::toJson() const
{
    Json::Value entry(Json::objectValue);
    entry["file_name"] = m_fileName;
    entry["display_name"] = m_displayName;
    entry["art"] = m_art;
    entry["bpm"] = m_bpm;
    entry["beats"] = m_beats;
    return entry;
}
