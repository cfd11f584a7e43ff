// Draws the program's icon into a PNG file for the desktop to show.
#include "qt/zubicon.h"

#include <cstdio>

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: makeicon SIZE OUT.png\n");
        return 1;
    }
    const int size = std::atoi(argv[1]);
    if (size < 16 || size > 1024 || !ZubIcon::image(size).save(argv[2], "PNG")) {
        std::fprintf(stderr, "Failed to write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
