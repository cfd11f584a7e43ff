#pragma once

#include <cstddef>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>

// How much a line matters. Debug is per-note and per-buffer chatter, printed
// only with MOTIFO_LOG=debug; Info goes to standard output, Error to
// standard error.
enum class LogLevel { Debug, Info, Error };

// Receives every line that is printed (the log file). Called on the thread
// that logs, with the log's lock held: it must only hand the line on.
class LogSink
{
public:
    virtual ~LogSink() = default;
    virtual void write(LogLevel level, std::string_view line) = 0;
};

// The program's one log: engine and shell write their lines here.
class Log
{
public:
    static bool enabled(LogLevel level);
    // Whether a line of this level is printed from the calling thread; a
    // refusal on the audio thread is counted.
    static bool admits(LogLevel level);
    // One line; a trailing line feed is dropped. Lines from the audio thread
    // are refused and counted, never printed.
    static void write(LogLevel level, std::string_view line);

    // Debug lines on or off; the default comes from MOTIFO_LOG.
    static void setDebugEnabled(bool enabled);
    static bool debugFromEnvironment(const char* value);

    // nullptr detaches. The sink must outlive its attachment.
    static void setSink(LogSink* sink);

    // Marks the calling thread as the audio thread for its scope.
    class AudioThreadScope
    {
    public:
        AudioThreadScope();
        ~AudioThreadScope();
        AudioThreadScope(const AudioThreadScope&) = delete;
        AudioThreadScope& operator=(const AudioThreadScope&) = delete;

    private:
        bool m_bWasAudioThread;
    };
    static std::size_t refusedAudioThreadLines();

private:
    friend class LogLine;
    static void print(LogLevel level, std::string_view line);
};

// One line built with <<, written when it goes out of scope. A line whose
// level is off formats nothing.
class LogLine
{
public:
    explicit LogLine(LogLevel level);
    ~LogLine();
    LogLine(const LogLine&) = delete;
    LogLine& operator=(const LogLine&) = delete;

    template <typename T>
    LogLine& operator<<(const T& value)
    {
        if (m_stream)
            *m_stream << value;
        return *this;
    }

private:
    LogLevel m_level;
    std::optional<std::ostringstream> m_stream;
};

inline LogLine logDebug() { return LogLine(LogLevel::Debug); }
inline LogLine logInfo() { return LogLine(LogLevel::Info); }
inline LogLine logError() { return LogLine(LogLevel::Error); }
