#include "core/stateposter.h"

#include "core/nativejsbridge.h"

#include <utility>

StatePoster::StatePoster(Builder builder)
    : m_builder(std::move(builder))
    , m_thread([this] { run(); })
{
}

StatePoster::~StatePoster()
{
    {
        std::lock_guard lock(m_mutex);
        m_bStop = true;
    }
    m_wake.notify_one();
    m_thread.join();
}

void StatePoster::setJsBridge(NativeJsBridge* bridge)
{
    std::unique_lock lock(m_mutex);
    m_pBridge = bridge;
    // A post to the old bridge may be under way: once this returns, the old
    // bridge is never touched again and may go.
    m_drained.wait(lock, [this] { return !m_bBusy; });
}

void StatePoster::request(int code)
{
    {
        std::lock_guard lock(m_mutex);
        if (!m_pBridge || m_count == QUEUE_SIZE)
            return;
        m_queue[(m_head + m_count) % QUEUE_SIZE] = code;
        ++m_count;
    }
    m_wake.notify_one();
}

void StatePoster::flush()
{
    std::unique_lock lock(m_mutex);
    m_drained.wait(lock, [this] { return m_count == 0 && !m_bBusy; });
}

void StatePoster::run()
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_bStop || m_count > 0; });
        if (m_count == 0)
            return; // stopping with nothing left to post
        const int code = m_queue[m_head];
        m_head = (m_head + 1) % QUEUE_SIZE;
        --m_count;
        NativeJsBridge* bridge = m_pBridge;
        m_bBusy = true;
        // The builder takes the component's locks: never while holding ours.
        lock.unlock();
        if (bridge)
            bridge->postMessage(m_builder(code));
        lock.lock();
        m_bBusy = false;
        m_drained.notify_all();
    }
}
