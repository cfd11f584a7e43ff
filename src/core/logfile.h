#pragma once

#include "core/log.h"

#include <condition_variable>
#include <cstddef>
#include <cstdio>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

// The log on disk: "motifo.log" in a folder, the previous one kept as
// "motifo.1.log". Opening moves the last run's file aside; a file that
// reaches its limit is moved aside the same way, so the two together never
// hold more than twice the limit. Lines are written by a thread of its own;
// whoever logs only queues them.
class LogFile : public LogSink
{
public:
    static constexpr std::size_t DEFAULT_MAX_BYTES = 4 * 1024 * 1024;
    // Lines queued beyond this while the disk is slow are counted, not kept.
    static constexpr std::size_t MAX_QUEUED_LINES = 10000;

    explicit LogFile(const std::string& folder, std::size_t maxBytes = DEFAULT_MAX_BYTES);
    ~LogFile() override; // writes what is queued

    void write(LogLevel level, std::string_view line) override;
    // Returns once every line queued before the call is on disk.
    void flush();

    bool isOpen() const { return m_pFile != nullptr; }
    const std::string& path() const { return m_path; }
    const std::string& previousPath() const { return m_previousPath; }

    LogFile(const LogFile&) = delete;
    LogFile& operator=(const LogFile&) = delete;

private:
    void run();
    void writeLine(const std::string& line);
    void moveAside();

    std::string m_path;
    std::string m_previousPath;
    std::size_t m_maxBytes;
    std::FILE* m_pFile = nullptr; // writer thread only, after construction
    std::size_t m_bytes = 0;

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_written;
    std::deque<std::string> m_queue;
    std::size_t m_dropped = 0;
    unsigned long long m_queuedCount = 0;
    unsigned long long m_writtenCount = 0;
    bool m_bStop = false;
    std::thread m_thread;
};
