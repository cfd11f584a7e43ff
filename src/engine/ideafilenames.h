#pragma once

#include <string>
#include <vector>

// Turns idea names into file and folder names that stay inside the project's
// audio folder: no separators, no "." or "..", no control characters, nothing
// a common file system refuses, bounded length, and no two alike (ignoring
// case). The idea keeps its real name in the document.
class IdeaFileNames
{
public:
    // Bytes, leaving room for ".wav", a number and the file system's limit.
    static constexpr std::size_t MAX_LENGTH = 200;

    static std::string safeName(const std::string& ideaName);
    // One distinct safe name per idea name, in order.
    static std::vector<std::string> forIdeas(const std::vector<std::string>& ideaNames);
    // True for a name safeName leaves as it is.
    static bool isSafe(const std::string& fileName) { return !fileName.empty() && safeName(fileName) == fileName; }
};
