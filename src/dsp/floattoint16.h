#pragma once

#include "dsp/triangulardither.h"

#include <cstdint>

// Converts count float samples (full scale -1..1) to dithered 16-bit values.
// Scaled by 32766 so the dither cannot overflow before clipping; non-numbers give 0.
void floatToInt16(std::int16_t* dst, const float* src, int count, TriangularDither& dither);
