// Draws a logo for an instrument or group: a rounded tile in the given
// colour with a pattern that the name chooses, so every logo differs and
// none is drawn by hand.
//
//   zublogo OUT.png SIZE #RRGGBB NAME

#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb_image_write.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <iostream>
#include <numbers>
#include <string>
#include <vector>

namespace {

struct Rgb
{
    double r, g, b;
};

bool parseColour(const std::string& text, Rgb& colour)
{
    unsigned value = 0;
    if (text.size() != 7 || text[0] != '#' || std::sscanf(text.c_str() + 1, "%6x", &value) != 1)
        return false;
    colour = { ((value >> 16) & 0xFF) / 255.0, ((value >> 8) & 0xFF) / 255.0, (value & 0xFF) / 255.0 };
    return true;
}

std::uint32_t hashName(const std::string& name)
{
    std::uint32_t h = 2166136261u; // FNV-1a
    for (unsigned char c : name)
        h = (h ^ c) * 16777619u;
    return h;
}

// Coverage of pixel (x, y) by a tile with rounded corners, in 0..1.
double tileCoverage(double x, double y, double size)
{
    const double radius = size * 0.18;
    const double cx = std::clamp(x, radius, size - radius);
    const double cy = std::clamp(y, radius, size - radius);
    const double d = std::hypot(x - cx, y - cy);
    return std::clamp(radius - d + 0.5, 0.0, 1.0);
}

// Brightness of the pattern at (u, v) in -1..1 around the tile centre.
double pattern(double u, double v, std::uint32_t seed)
{
    const int rings = 2 + seed % 4;
    const int petals = 3 + (seed >> 4) % 6;
    const double twist = ((seed >> 8) % 5) * 0.6;
    const double r = std::hypot(u, v);
    const double a = std::atan2(v, u);
    const double wave = std::cos(petals * a + twist * r * std::numbers::pi) * 0.5 + 0.5;
    const double ring = std::cos(rings * r * std::numbers::pi) * 0.5 + 0.5;
    return r > 0.85 ? 0.0 : (0.55 * wave + 0.45 * ring) * (1.0 - r / 0.85);
}

} // namespace

int main(int argc, char** argv)
{
    Rgb base {};
    const int size = argc == 5 ? std::atoi(argv[2]) : 0;
    if (argc != 5 || size < 16 || size > 1024 || !parseColour(argv[3], base)) {
        std::cerr << "usage: zublogo OUT.png SIZE #RRGGBB NAME\n";
        return 2;
    }
    const std::uint32_t seed = hashName(argv[4]);
    std::vector<std::uint8_t> pixels(4 * size * size);
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            const double u = (x + 0.5) / size * 2.0 - 1.0;
            const double v = (y + 0.5) / size * 2.0 - 1.0;
            const double light = pattern(u, v, seed);
            const double shade = 0.75 + 0.25 * (1.0 - (v + 1.0) / 2.0);
            const double channels[3] = { base.r, base.g, base.b };
            std::uint8_t* p = &pixels[4 * (y * size + x)];
            for (int c = 0; c < 3; ++c) {
                const double value = channels[c] * shade * (1.0 - light) + light;
                p[c] = static_cast<std::uint8_t>(std::lround(std::clamp(value, 0.0, 1.0) * 255.0));
            }
            p[3] = static_cast<std::uint8_t>(std::lround(tileCoverage(x + 0.5, y + 0.5, size) * 255.0));
        }
    }
    if (!stbi_write_png(argv[1], size, size, 4, pixels.data(), 4 * size)) {
        std::cerr << "cannot write " << argv[1] << "\n";
        return 1;
    }
    return 0;
}
