#pragma once

#include <string>

// Reads a 16-bit PCM stereo 44,100 Hz WAV file into a new 16-byte-aligned
// float array (free it with freeAlignedFloats). Returns 0 on success; 1 when
// the file cannot be opened or is not in that format, with samples null and
// numSamples 0. Data shorter than the header announces is filled with zeros
// (at most one second of them; a header announcing more reads what is there).
int readWav(const std::string& path, float*& samples, int& numSamples);
