#pragma once

#include <string>
#include <vector>

// Whole recordings from one sample rate to another, at the best quality of
// the sample rate library; off the audio thread (files brought into a song).
class RateConverter
{
public:
    // Returns why it failed, or "" with the converted samples in out.
    static std::string convert(const std::vector<float>& in, int channels, int fromRate, int toRate,
        std::vector<float>& out);
};
