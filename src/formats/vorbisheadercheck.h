#pragma once

#include <cstddef>
#include <cstdint>

// Checks the comment header of an Ogg Vorbis file before the decoder sees it.
// The decoder trusts the vendor length, the comment count and each comment
// length and overflows its buffers when they exceed the packet; here every
// one of them must fit the packet that holds them.
class VorbisHeaderCheck
{
public:
    // True when the file's second packet (the comment header, possibly spread
    // over several pages) is whole and every length in it fits.
    static bool commentsFit(const uint8_t* data, std::size_t size);
};
