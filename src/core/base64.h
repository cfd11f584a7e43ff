#pragma once

#include <cstddef>
#include <string>

// Standard Base64 (RFC 4648 alphabet, "=" fill, no line breaks).
class Base64
{
public:
    static std::string encode(const void* data, std::size_t size);
};
