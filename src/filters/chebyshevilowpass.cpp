#include "filters/chebyshevilowpass.h"

#include "filters/chebyshevianalogprototype.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <numbers>

namespace {

std::complex<double> lowPassRoot(std::complex<double> c, double f)
{
    if (PoleZeroLayout::isInfinity(c))
        return -1.0;
    return (1.0 + f * c) / (1.0 - f * c);
}

} // namespace

void ChebyshevILowPass::setup(int order, double sampleRate, double cutoffHz, double rippleDb)
{
    assert(order >= 1 && order <= kMaxOrder);
    order = std::clamp(order, 1, kMaxOrder);

    PoleZeroLayout analog;
    ChebyshevIAnalogPrototype::design(order, rippleDb, analog);

    const double f = std::tan(std::numbers::pi * cutoffHz / sampleRate);
    PoleZeroLayout digital;
    for (int i = 0; i < analog.numPairs(); ++i) {
        const PoleZeroLayout::Pair& pair = analog.pair(i);
        const std::complex<double> pole = lowPassRoot(pair.poles[0], f);
        const std::complex<double> zero = lowPassRoot(pair.zeros[0], f);
        if (pair.m_bSingle)
            digital.addSingle(pole, zero);
        else
            digital.addConjugatePairs(pole, zero);
    }
    digital.m_normalW = 0.0;
    digital.m_normalGain = analog.m_normalGain;
    setLayout(digital);
}
