#include "dsp/floattoint16.h"

#include <cmath>

void floatToInt16(std::int16_t* dst, const float* src, int count, TriangularDither& dither)
{
    for (int i = 0; i < count; ++i) {
        const float d = dither.next();
        const float v = static_cast<float>(src[i] * 32766.0 + d);
        // Clip before converting: a float outside the int range would not convert.
        if (std::isnan(v))
            dst[i] = 0;
        else if (v >= 32767.0f)
            dst[i] = 32767;
        else if (v <= -32768.0f)
            dst[i] = -32768;
        else
            dst[i] = static_cast<std::int16_t>(static_cast<int>(v));
    }
}
