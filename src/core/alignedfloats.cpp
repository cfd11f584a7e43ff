#include "core/alignedfloats.h"

#include <cstdlib>

float* allocateAlignedFloats(std::size_t count)
{
    constexpr std::size_t kAlign = 16;
    // aligned_alloc wants a whole number of alignment units, and at least one.
    const std::size_t bytes = (count * sizeof(float) + kAlign - 1) / kAlign * kAlign;
    return static_cast<float*>(std::aligned_alloc(kAlign, bytes > 0 ? bytes : kAlign));
}

void freeAlignedFloats(float* p)
{
    std::free(p);
}
