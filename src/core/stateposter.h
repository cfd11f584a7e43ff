#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

class NativeJsBridge;

// Posts a component's state to the page from a thread of its own. Any thread,
// the audio thread included, asks for a push with a small code and never
// builds text or allocates; the builder runs here. Pushes keep the order in
// which they were asked for.
class StatePoster
{
public:
    // Builds the message text for a code; runs on the poster's thread.
    using Builder = std::function<std::string(int code)>;
    static constexpr int QUEUE_SIZE = 64;

    explicit StatePoster(Builder builder);
    ~StatePoster();

    StatePoster(const StatePoster&) = delete;
    StatePoster& operator=(const StatePoster&) = delete;

    // Once this returns, the previous bridge is not used again.
    void setJsBridge(NativeJsBridge* bridge);
    // Any thread. Dropped while there is no bridge or the queue is full.
    void request(int code);
    // Returns once every request made before the call has been posted.
    void flush();

private:
    void run();

    Builder m_builder;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_drained;
    int m_queue[QUEUE_SIZE];
    int m_head = 0;
    int m_count = 0;
    bool m_bBusy = false;
    bool m_bStop = false;
    NativeJsBridge* m_pBridge = nullptr;
    std::thread m_thread;
};
