#include "filters/cascade.h"

#include <cmath>

void Cascade::setLayout(const PoleZeroLayout& layout)
{
    m_numSections = layout.numPairs();
    for (int i = 0; i < m_numSections; ++i) {
        const PoleZeroLayout::Pair& pair = layout.pair(i);
        if (pair.m_bSingle)
            m_sections[i].setOnePole(pair.poles[0], pair.zeros[0]);
        else
            m_sections[i].setPoleZeroPairs(pair.poles[0], pair.poles[1], pair.zeros[0], pair.zeros[1]);
    }
    if (m_numSections > 0)
        m_sections[0].applyScale(layout.m_normalGain / std::abs(response(layout.m_normalW)));
}

void Cascade::setSingleSection(double a0, double a1, double a2, double b0, double b1, double b2)
{
    m_numSections = 1;
    m_sections[0].setCoefficients(a0, a1, a2, b0, b1, b2);
}

std::complex<double> Cascade::response(double w) const
{
    std::complex<double> h = 1.0;
    for (int i = 0; i < m_numSections; ++i)
        h *= m_sections[i].response(w);
    return h;
}
