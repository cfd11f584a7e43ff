#include "filters/polezerolayout.h"

#include <cassert>

void PoleZeroLayout::addConjugatePairs(std::complex<double> pole, std::complex<double> zero)
{
    addPairs(pole, std::conj(pole), zero, std::conj(zero));
}

void PoleZeroLayout::addPairs(std::complex<double> p1, std::complex<double> p2,
                              std::complex<double> z1, std::complex<double> z2)
{
    assert(m_numPairs < kMaxPairs);
    if (m_numPairs >= kMaxPairs)
        return;
    m_pairs[m_numPairs++] = Pair { { p1, p2 }, { z1, z2 }, false };
}

void PoleZeroLayout::addSingle(std::complex<double> pole, std::complex<double> zero)
{
    assert(m_numPairs < kMaxPairs);
    if (m_numPairs >= kMaxPairs)
        return;
    m_pairs[m_numPairs++] = Pair { { pole, 0.0 }, { zero, 0.0 }, true };
}
