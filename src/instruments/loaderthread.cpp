#include "instruments/loaderthread.h"

LoaderThread::~LoaderThread()
{
    wait();
}

void LoaderThread::start(std::function<void()> job)
{
    // A job that starts the next load (from its completion callback) cannot
    // join itself; it is about to end anyway.
    if (m_thread.joinable() && m_thread.get_id() == std::this_thread::get_id())
        m_thread.detach();
    wait();
    m_thread = std::thread(std::move(job));
}

void LoaderThread::wait()
{
    if (m_thread.joinable() && m_thread.get_id() != std::this_thread::get_id())
        m_thread.join();
}
