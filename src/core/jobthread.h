#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

// Runs posted jobs one after another on a thread of its own, in the order
// they were posted. Not for the audio thread: posting allocates.
class JobThread
{
public:
    JobThread();
    // Runs the jobs still queued, then ends the thread.
    ~JobThread();

    JobThread(const JobThread&) = delete;
    JobThread& operator=(const JobThread&) = delete;

    void post(std::function<void()> job);
    // Returns once every job posted before the call has run. Not from a job.
    void wait();
    // A job is queued or running.
    bool isBusy() const;

private:
    void run();

    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_drained;
    std::deque<std::function<void()>> m_jobs;
    bool m_bBusy = false;
    bool m_bStop = false;
    std::thread m_thread;
};
