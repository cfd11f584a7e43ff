#include "formats/vorbisheadercheck.h"

#include <cstring>
#include <vector>

namespace {

constexpr std::size_t kPageHeaderBytes = 27;
constexpr uint8_t kContinuedPacket = 0x01;

uint32_t le32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// One Ogg page: its flags and where its segment table and body are.
struct Page
{
    uint8_t flags = 0;
    const uint8_t* lacing = nullptr;
    int numSegments = 0;
    const uint8_t* body = nullptr;
    std::size_t end = 0; // offset just past the page
};

bool readPage(const uint8_t* data, std::size_t size, std::size_t at, Page& page)
{
    if (size < kPageHeaderBytes || at > size - kPageHeaderBytes || std::memcmp(data + at, "OggS", 4) != 0)
        return false;
    page.flags = data[at + 5];
    page.numSegments = data[at + 26];
    const std::size_t tableEnd = at + kPageHeaderBytes + page.numSegments;
    if (tableEnd > size)
        return false;
    page.lacing = data + at + kPageHeaderBytes;
    std::size_t bodyBytes = 0;
    for (int i = 0; i < page.numSegments; ++i)
        bodyBytes += page.lacing[i];
    if (bodyBytes > size - tableEnd)
        return false;
    page.body = data + tableEnd;
    page.end = tableEnd + bodyBytes;
    return true;
}

// The packet that starts the second page, with its continuation pages.
bool secondPacket(const uint8_t* data, std::size_t size, std::vector<uint8_t>& packet)
{
    Page page;
    if (!readPage(data, size, 0, page) || !readPage(data, size, page.end, page))
        return false;
    for (bool first = true;; first = false) {
        if (!first && !(page.flags & kContinuedPacket))
            return false;
        const uint8_t* segment = page.body;
        for (int i = 0; i < page.numSegments; ++i) {
            packet.insert(packet.end(), segment, segment + page.lacing[i]);
            segment += page.lacing[i];
            if (page.lacing[i] < 255)
                return true;
        }
        if (!readPage(data, size, page.end, page))
            return false;
    }
}

} // namespace

bool VorbisHeaderCheck::commentsFit(const uint8_t* data, std::size_t size)
{
    std::vector<uint8_t> packet;
    if (!secondPacket(data, size, packet))
        return false;
    // Type byte and "vorbis", then the vendor, the count and the comments.
    std::size_t at = 7;
    auto lengthFits = [&](uint64_t& length) {
        if (packet.size() < at + 4)
            return false;
        length = le32(packet.data() + at);
        at += 4;
        return length <= packet.size() - at;
    };
    uint64_t vendor = 0, count = 0;
    if (packet.size() < at || !lengthFits(vendor))
        return false;
    at += vendor;
    // Each comment takes at least its four length bytes.
    if (!lengthFits(count) || count > (packet.size() - at) / 4)
        return false;
    for (uint64_t i = 0; i < count; ++i) {
        uint64_t length = 0;
        if (!lengthFits(length))
            return false;
        at += length;
    }
    return true;
}
