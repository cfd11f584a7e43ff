#include "engine/ideafilenames.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <set>

namespace {

bool refusedCharacter(unsigned char c)
{
    return c < 0x20 || c == 0x7F || std::strchr("/\\:*?\"<>|", c) != nullptr;
}

std::string lower(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return s;
}

// Device names that Windows refuses as file names, with any extension.
bool reservedOnWindows(const std::string& name)
{
    static const std::set<std::string> kReserved = { "con", "prn", "aux", "nul", "com1", "com2", "com3", "com4",
        "com5", "com6", "com7", "com8", "com9", "lpt1", "lpt2", "lpt3", "lpt4", "lpt5", "lpt6", "lpt7", "lpt8",
        "lpt9" };
    return kReserved.count(lower(name.substr(0, name.find('.')))) != 0;
}

// Cuts at most max bytes without splitting a UTF-8 sequence.
std::string truncated(const std::string& s, std::size_t max)
{
    if (s.size() <= max)
        return s;
    std::size_t n = max;
    while (n > 0 && (static_cast<unsigned char>(s[n]) & 0xC0) == 0x80)
        --n;
    return s.substr(0, n);
}

} // namespace

std::string IdeaFileNames::safeName(const std::string& ideaName)
{
    std::string name;
    for (unsigned char c : ideaName)
        name += refusedCharacter(c) ? '_' : char(c);
    name = truncated(name, MAX_LENGTH);
    // Leading dots would make "." and ".." or hidden files; trailing dots and
    // spaces are dropped by some file systems.
    for (std::size_t i = 0; i < name.size() && name[i] == '.'; ++i)
        name[i] = '_';
    for (std::size_t i = name.size(); i > 0 && (name[i - 1] == '.' || name[i - 1] == ' '); --i)
        name[i - 1] = '_';
    if (name.empty())
        return "Idea";
    if (reservedOnWindows(name))
        name = "_" + name;
    return name;
}

std::vector<std::string> IdeaFileNames::forIdeas(const std::vector<std::string>& ideaNames)
{
    std::vector<std::string> names;
    std::set<std::string> taken;
    for (const std::string& ideaName : ideaNames) {
        const std::string base = safeName(ideaName);
        std::string name = base;
        for (int n = 2; taken.count(lower(name)) != 0; ++n)
            name = base + " (" + std::to_string(n) + ")";
        taken.insert(lower(name));
        names.push_back(name);
    }
    return names;
}
