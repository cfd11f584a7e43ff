#pragma once

#if defined(__SSE__) || defined(__x86_64__)
#include <xmmintrin.h>
#endif

// Sets flush-to-zero and denormals-are-zero for the scope of one audio cycle,
// so decaying filters and envelopes never fall into slow denormal arithmetic.
class DenormalGuard
{
public:
    DenormalGuard()
    {
#if defined(__SSE__) || defined(__x86_64__)
        m_saved = _mm_getcsr();
        _mm_setcsr(m_saved | 0x8040); // FTZ | DAZ
#endif
    }
    ~DenormalGuard()
    {
#if defined(__SSE__) || defined(__x86_64__)
        _mm_setcsr(m_saved);
#endif
    }
    DenormalGuard(const DenormalGuard&) = delete;
    DenormalGuard& operator=(const DenormalGuard&) = delete;

private:
    unsigned int m_saved = 0;
};
