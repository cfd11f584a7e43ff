// The Ogg Vorbis decoder is compiled here and only here; other files include
// its declarations with STB_VORBIS_HEADER_ONLY.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wall"
#pragma GCC diagnostic ignored "-Wextra"
#pragma GCC diagnostic ignored "-Wunused-value"
#pragma GCC diagnostic ignored "-Wmisleading-indentation"
#include "stb_vorbis.h"
#pragma GCC diagnostic pop
