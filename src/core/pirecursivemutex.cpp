#include "core/pirecursivemutex.h"

PiRecursiveMutex::PiRecursiveMutex()
{
    pthread_mutexattr_t attr;
    pthread_mutexattr_init(&attr);
    pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
    // Where the system cannot lend priority it is a plain recursive mutex.
    pthread_mutexattr_setprotocol(&attr, PTHREAD_PRIO_INHERIT);
    if (pthread_mutex_init(&m_mutex, &attr) != 0) {
        pthread_mutexattr_setprotocol(&attr, PTHREAD_PRIO_NONE);
        pthread_mutex_init(&m_mutex, &attr);
    }
    pthread_mutexattr_destroy(&attr);
}

PiRecursiveMutex::~PiRecursiveMutex()
{
    pthread_mutex_destroy(&m_mutex);
}

void PiRecursiveMutex::lock()
{
    pthread_mutex_lock(&m_mutex);
}

void PiRecursiveMutex::unlock()
{
    pthread_mutex_unlock(&m_mutex);
}

bool PiRecursiveMutex::try_lock()
{
    return pthread_mutex_trylock(&m_mutex) == 0;
}
