#include "core/logfile.h"

#include <chrono>
#include <ctime>
#include <filesystem>
#include <utility>

namespace {

const char* levelName(LogLevel level)
{
    switch (level) {
    case LogLevel::Debug:
        return "debug";
    case LogLevel::Error:
        return "error";
    default:
        return "info";
    }
}

// "2026-03-01 14:05:09.042 info  " in local time.
std::string stamp(LogLevel level)
{
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm local {};
    localtime_r(&seconds, &local);
    char text[64];
    const std::size_t n = std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    std::snprintf(text + n, sizeof text - n, ".%03d %-5s ", int(millis), levelName(level));
    return text;
}

} // namespace

LogFile::LogFile(const std::string& folder, std::size_t maxBytes)
    : m_path(folder + "/motifo.log")
    , m_previousPath(folder + "/motifo.1.log")
    , m_maxBytes(maxBytes)
{
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    moveAside();
    if (!m_pFile)
        std::fprintf(stderr, "Failed to open the log file %s\n", m_path.c_str());
    m_thread = std::thread(&LogFile::run, this);
}

LogFile::~LogFile()
{
    {
        std::lock_guard lock(m_mutex);
        m_bStop = true;
    }
    m_wake.notify_one();
    m_thread.join();
    if (m_pFile)
        std::fclose(m_pFile);
}

void LogFile::write(LogLevel level, std::string_view line)
{
    std::string text = stamp(level);
    text.append(line);
    text.push_back('\n');
    {
        std::lock_guard lock(m_mutex);
        if (m_queue.size() >= MAX_QUEUED_LINES) {
            ++m_dropped;
            return;
        }
        m_queue.push_back(std::move(text));
        ++m_queuedCount;
    }
    m_wake.notify_one();
}

void LogFile::flush()
{
    std::unique_lock lock(m_mutex);
    const unsigned long long target = m_queuedCount;
    m_written.wait(lock, [&] { return m_writtenCount >= target; });
}

void LogFile::run()
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [&] { return m_bStop || !m_queue.empty(); });
        if (m_queue.empty() && m_bStop)
            return;
        std::deque<std::string> lines;
        lines.swap(m_queue);
        const std::size_t dropped = std::exchange(m_dropped, 0);
        lock.unlock();
        if (dropped)
            writeLine(stamp(LogLevel::Error) + std::to_string(dropped) + " log lines were left out\n");
        for (const std::string& line : lines)
            writeLine(line);
        if (m_pFile)
            std::fflush(m_pFile);
        lock.lock();
        m_writtenCount += lines.size();
        m_written.notify_all();
    }
}

void LogFile::writeLine(const std::string& line)
{
    if (m_pFile && m_bytes > 0 && m_bytes + line.size() > m_maxBytes)
        moveAside();
    if (!m_pFile)
        return;
    m_bytes += std::fwrite(line.data(), 1, line.size(), m_pFile);
}

void LogFile::moveAside()
{
    if (m_pFile)
        std::fclose(m_pFile);
    std::error_code ec;
    if (std::filesystem::exists(m_path, ec))
        std::filesystem::rename(m_path, m_previousPath, ec);
    m_pFile = std::fopen(m_path.c_str(), "w");
    m_bytes = 0;
}
