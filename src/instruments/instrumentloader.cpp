#include "instruments/instrumentloader.h"

InstrumentLoader::~InstrumentLoader()
{
    stop();
}

void InstrumentLoader::submit(Job job)
{
    std::optional<Job> replaced;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_bStopping)
            return;
        replaced.swap(m_pending);
        m_pending = std::move(job);
        if (!m_thread.joinable())
            m_thread = std::thread(&InstrumentLoader::threadMain, this);
    }
    m_cv.notify_all();
    if (replaced && replaced->drop)
        replaced->drop();
}

void InstrumentLoader::waitIdle()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_cv.wait(lock, [this] { return !m_pending && !m_bBusy; });
}

void InstrumentLoader::stop()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bStopping = true;
        m_pending.reset();
    }
    m_cv.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

void InstrumentLoader::threadMain()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_cv.wait(lock, [this] { return m_bStopping || m_pending; });
        if (m_bStopping)
            break;
        Job job = std::move(*m_pending);
        m_pending.reset();
        m_bBusy = true;
        lock.unlock();
        job.run();
        lock.lock();
        m_bBusy = false;
        m_cv.notify_all();
    }
    m_bBusy = false;
    m_cv.notify_all();
}
