#include "core/jobthread.h"

#include <utility>

JobThread::JobThread()
    : m_thread([this] { run(); })
{
}

JobThread::~JobThread()
{
    {
        std::lock_guard lock(m_mutex);
        m_bStop = true;
    }
    m_wake.notify_one();
    m_thread.join();
}

void JobThread::post(std::function<void()> job)
{
    {
        std::lock_guard lock(m_mutex);
        m_jobs.push_back(std::move(job));
    }
    m_wake.notify_one();
}

void JobThread::wait()
{
    std::unique_lock lock(m_mutex);
    m_drained.wait(lock, [this] { return m_jobs.empty() && !m_bBusy; });
}

bool JobThread::isBusy() const
{
    std::lock_guard lock(m_mutex);
    return m_bBusy || !m_jobs.empty();
}

void JobThread::run()
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_bStop || !m_jobs.empty(); });
        if (m_jobs.empty())
            return; // stopping with nothing left to run
        std::function<void()> job = std::move(m_jobs.front());
        m_jobs.pop_front();
        m_bBusy = true;
        lock.unlock();
        job();
        job = nullptr; // what the job held goes before it counts as done
        lock.lock();
        m_bBusy = false;
        m_drained.notify_all();
    }
}
