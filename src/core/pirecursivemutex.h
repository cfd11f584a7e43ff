#pragma once

#include <pthread.h>

// A recursive mutex whose holder takes on the priority of a realtime thread
// waiting for it (priority inheritance). A message thread that copies in
// short holds of a lock the audio thread takes is then not pushed aside by
// busy ordinary threads while the audio thread waits. Meets Lockable, for
// std::lock_guard.
class PiRecursiveMutex
{
public:
    PiRecursiveMutex();
    ~PiRecursiveMutex();

    PiRecursiveMutex(const PiRecursiveMutex&) = delete;
    PiRecursiveMutex& operator=(const PiRecursiveMutex&) = delete;

    void lock();
    void unlock();
    bool try_lock();

private:
    pthread_mutex_t m_mutex;
};
