#pragma once

#include <vector>

class Sampler;

// What a listener notices in rendered interleaved stereo: pitch and level.
namespace signalmeasure {

// Frequency of the left channel in Hz, from its rising zero crossings
// (interpolated between samples); 0 when fewer than two are found.
double frequency(const std::vector<float>& interleaved, int firstFrame = 0);
// Root mean square of the left channel over frames [first, last).
double rms(const std::vector<float>& interleaved, int first, int last);

// Renders numFrames frames from the sampler in blocks of blockFrames.
std::vector<float> render(Sampler& sampler, int numFrames, int blockFrames = 256);

} // namespace signalmeasure
