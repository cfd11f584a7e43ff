#pragma once

#include <cstddef>
#include <string>
#include <vector>

// The WAV files other programs write: integer PCM of 8, 16, 24 or 32 bits,
// 32- or 64-bit float, the plain or the extensible format chunk, chunks in
// any order. Loop files and samples keep their own strict reader.
class WavDecoder
{
public:
    struct Audio {
        int sampleRate = 0;
        int channels = 0;
        std::vector<float> samples; // interleaved, full scale at 1.0
    };

    // Returns why the file cannot be taken ("" when it was read): not a WAV
    // file, a compressed format, more than maxChannels channels, or more
    // than maxSeconds of sound.
    static std::string decode(const std::string& path, Audio& audio, int maxChannels, double maxSeconds);
};
