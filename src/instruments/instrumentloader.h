#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

// Runs an instrument's background loads on one thread that it owns and
// joins. Jobs run one at a time in submission order, but only the newest
// waiting job survives: submitting while another job waits drops that one
// (its drop part runs at once, on the submitting thread). The thread starts
// with the first job, so objects that never load cost no thread.
class InstrumentLoader
{
public:
    struct Job
    {
        std::function<void()> run;
        // Runs instead of run when a newer job replaces this one.
        std::function<void()> drop;
    };

    InstrumentLoader() = default;
    ~InstrumentLoader();

    InstrumentLoader(const InstrumentLoader&) = delete;
    InstrumentLoader& operator=(const InstrumentLoader&) = delete;

    void submit(Job job);
    // Blocks until no job runs or waits.
    void waitIdle();
    // Forgets the waiting job (without its drop part), lets the running one
    // finish and joins the thread. Later submissions are ignored.
    void stop();

private:
    void threadMain();

    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::optional<Job> m_pending;
    bool m_bBusy = false;
    bool m_bStopping = false;
    std::thread m_thread;
};
