#pragma once

#include <functional>
#include <thread>

// Runs background loads one at a time. Starting a job first joins the
// previous one, and the destructor joins the last, so no loader thread
// outlives its owner.
class LoaderThread
{
public:
    LoaderThread() = default;
    ~LoaderThread();

    LoaderThread(const LoaderThread&) = delete;
    LoaderThread& operator=(const LoaderThread&) = delete;

    void start(std::function<void()> job);

    // Blocks until the current job, if any, has finished.
    void wait();

private:
    std::thread m_thread;
};
