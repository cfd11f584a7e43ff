#pragma once

#include <cstdint>
#include <string>

// The canonical 44-byte RIFF/WAVE PCM header, built in memory and handed out
// in file order by read().
class WavHeader
{
public:
    static constexpr int kSize = 44;

    WavHeader(const std::string& name, int numChannels, int sampleRate, int bitsPerSample, int numFrames);

    // Copies the next bytes not yet handed out, at most maxBytes; returns how many.
    int read(void* dst, int maxBytes);

    std::uint32_t dataSize() const { return m_dataSize; }

private:
    void putId(int offset, const char* id);
    void put16(int offset, std::uint32_t value);
    void put32(int offset, std::uint32_t value);

    std::string m_name; // kept for reference only; never opened
    std::uint8_t m_bytes[kSize];
    std::uint32_t m_dataSize;
    int m_readPos = 0;
};
