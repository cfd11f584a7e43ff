#include "core/fileops.h"

#include "core/log.h"

#include <cerrno>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

std::string FileOps::lastError()
{
    return std::error_code(errno, std::generic_category()).message();
}

bool FileOps::exists(const std::string& path)
{
    std::error_code ec;
    return fs::exists(fs::symlink_status(path, ec));
}

void FileOps::removeAll(const std::string& path)
{
    std::error_code ec;
    fs::remove_all(path, ec);
    if (ec)
        logError() << "Failed to remove " << path << ": " << ec.message();
}
