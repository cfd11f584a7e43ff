#include "core/log.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <strings.h>

namespace {

std::mutex& logMutex()
{
    static std::mutex m;
    return m;
}

LogSink* g_pSink = nullptr; // guarded by logMutex()
std::atomic<bool> g_bDebug { Log::debugFromEnvironment(std::getenv("MOTIFO_LOG")) };
std::atomic<std::size_t> g_refused { 0 };
thread_local bool t_bAudioThread = false;

} // namespace

bool Log::debugFromEnvironment(const char* value)
{
    return value && strcasecmp(value, "debug") == 0;
}

bool Log::enabled(LogLevel level)
{
    return level != LogLevel::Debug || g_bDebug.load(std::memory_order_relaxed);
}

void Log::setDebugEnabled(bool enabled)
{
    g_bDebug = enabled;
}

bool Log::admits(LogLevel level)
{
    if (t_bAudioThread) {
        g_refused.fetch_add(1, std::memory_order_relaxed);
        return false;
    }
    return enabled(level);
}

void Log::write(LogLevel level, std::string_view line)
{
    if (admits(level))
        print(level, line);
}

void Log::print(LogLevel level, std::string_view line)
{
    if (!line.empty() && line.back() == '\n')
        line.remove_suffix(1);
    std::FILE* out = level == LogLevel::Error ? stderr : stdout;
    std::lock_guard lock(logMutex());
    std::fwrite(line.data(), 1, line.size(), out);
    std::fputc('\n', out);
    std::fflush(out);
    if (g_pSink)
        g_pSink->write(level, line);
}

void Log::setSink(LogSink* sink)
{
    std::lock_guard lock(logMutex());
    g_pSink = sink;
}

Log::AudioThreadScope::AudioThreadScope()
    : m_bWasAudioThread(t_bAudioThread)
{
    t_bAudioThread = true;
}

Log::AudioThreadScope::~AudioThreadScope()
{
    t_bAudioThread = m_bWasAudioThread;
}

std::size_t Log::refusedAudioThreadLines()
{
    return g_refused.load(std::memory_order_relaxed);
}

LogLine::LogLine(LogLevel level)
    : m_level(level)
{
    if (Log::admits(level))
        m_stream.emplace();
}

LogLine::~LogLine()
{
    if (m_stream)
        Log::print(m_level, m_stream->str());
}
