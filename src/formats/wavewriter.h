#pragma once

#include <string>

// Writes interleaved stereo floats as a 16-bit PCM 44,100 Hz WAV file with
// dither. Returns 0 on success, 1 (with a log line) when the file cannot be
// written completely.
int writeWav(const std::string& path, const float* samples, int numSamples);
