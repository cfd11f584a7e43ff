#pragma once

#include <cstdint>

// High-passed triangular dither of about one 16-bit step. One fresh instance
// per conversion run, so every file written gets the same noise sequence.
class TriangularDither
{
public:
    // Strictly between -1 and 1 (in 16-bit steps).
    float next();

private:
    std::uint32_t m_seed1 = 22222;
    std::uint32_t m_seed2 = 5555555;
    std::int32_t m_previous = 0;
};
