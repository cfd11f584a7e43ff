#pragma once

#include <cstdint>
#include <cstdio>

// Bytes from the current position to the end of the file; the position
// stays where it was.
inline std::uint64_t bytesLeft(std::FILE* f)
{
    const long here = std::ftell(f);
    if (here < 0 || std::fseek(f, 0, SEEK_END) != 0)
        return 0;
    const long end = std::ftell(f);
    std::fseek(f, here, SEEK_SET);
    return end > here ? std::uint64_t(end - here) : 0;
}
