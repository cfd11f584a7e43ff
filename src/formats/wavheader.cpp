#include "formats/wavheader.h"

#include <algorithm>
#include <cstring>

WavHeader::WavHeader(const std::string& name, int numChannels, int sampleRate, int bitsPerSample,
                     int numFrames)
    : m_name(name)
{
    const std::uint32_t blockAlign = numChannels * bitsPerSample / 8;
    m_dataSize = static_cast<std::uint32_t>(numFrames) * blockAlign;
    putId(0, "RIFF");
    put32(4, m_dataSize + 36);
    putId(8, "WAVE");
    putId(12, "fmt ");
    put32(16, 16);
    put16(20, 1);
    put16(22, numChannels);
    put32(24, sampleRate);
    put32(28, static_cast<std::uint32_t>(sampleRate) * blockAlign);
    put16(32, blockAlign);
    put16(34, bitsPerSample);
    putId(36, "data");
    put32(40, m_dataSize);
}

int WavHeader::read(void* dst, int maxBytes)
{
    const int n = std::clamp(kSize - m_readPos, 0, std::max(maxBytes, 0));
    std::memcpy(dst, m_bytes + m_readPos, n);
    m_readPos += n;
    return n;
}

void WavHeader::putId(int offset, const char* id)
{
    std::memcpy(m_bytes + offset, id, 4);
}

void WavHeader::put16(int offset, std::uint32_t value)
{
    m_bytes[offset] = value & 0xFF;
    m_bytes[offset + 1] = (value >> 8) & 0xFF;
}

void WavHeader::put32(int offset, std::uint32_t value)
{
    put16(offset, value & 0xFFFF);
    put16(offset + 2, value >> 16);
}
