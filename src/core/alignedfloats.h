#pragma once

#include <cstddef>

// 16-byte-aligned float arrays handed between the file readers and their
// owners. Returns null when the memory cannot be had; free with freeAlignedFloats.
float* allocateAlignedFloats(std::size_t count);
void freeAlignedFloats(float* p);
