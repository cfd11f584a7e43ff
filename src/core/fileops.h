#pragma once

#include <string>

// File system calls that report rather than throw, for the writers that
// must never lose a file: a failure becomes a return value or a log line.
class FileOps
{
public:
    // The system's words for the last failed call (errno).
    static std::string lastError();
    // Whether anything, a dangling link too, stands at path.
    static bool exists(const std::string& path);
    // Removes path and all below it; a failure is logged.
    static void removeAll(const std::string& path);
};
