#pragma once

#include <string>

// One stereo recording decoded into memory at construction: interleaved
// floats, two per frame. Immutable afterwards; empty when loading failed.
class Sample
{
public:
    // ".wav" (16-bit stereo 44.1 kHz) or ".ogg" (any channel count, decoded to
    // two channels; mono is heard on both). Never throws.
    explicit Sample(const std::string& path);
    ~Sample();

    Sample(const Sample&) = delete;
    Sample& operator=(const Sample&) = delete;

    int numSamples() const { return m_numSamples; }
    const float* data() const { return m_pData; }
    const std::string& path() const { return m_path; }

private:
    int loadOgg();

    std::string m_path;
    float* m_pData = nullptr;
    int m_numSamples = 0;
};
