#include "dsp/triangulardither.h"

float TriangularDither::next()
{
    m_seed1 = m_seed1 * 196314165u + 907633515u;
    m_seed2 = m_seed2 * 196314165u + 907633515u;
    const std::int32_t current = (static_cast<std::int32_t>(m_seed1) >> 18)
        + (static_cast<std::int32_t>(m_seed2) >> 18);
    const float d = static_cast<float>((current - m_previous) * (1.0 / 32767.0));
    m_previous = current;
    return d;
}
