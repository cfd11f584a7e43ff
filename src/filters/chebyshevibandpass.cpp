#include "filters/chebyshevibandpass.h"

#include "filters/chebyshevianalogprototype.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <numbers>
#include <utility>

namespace {

using Complex = std::complex<double>;

// Band edges in radians per sample and the transform constants they give.
struct BandPassTransform
{
    double wc2;
    double wc;
    double a;
    double b;

    BandPassTransform(double center, double width)
    {
        const double ww = 2.0 * std::numbers::pi * width;
        wc2 = 2.0 * std::numbers::pi * center - ww / 2.0;
        wc = wc2 + ww;
        wc2 = std::max(wc2, 1e-8);
        wc = std::min(wc, std::numbers::pi - 1e-8);
        a = std::cos((wc + wc2) / 2.0) / std::cos((wc - wc2) / 2.0);
        b = 1.0 / std::tan((wc - wc2) / 2.0);
    }

    std::pair<Complex, Complex> roots(Complex c) const
    {
        if (PoleZeroLayout::isInfinity(c))
            return { -1.0, 1.0 };
        c = (1.0 + c) / (1.0 - c);
        const double k = b * b * (a * a - 1.0);
        const Complex v = std::sqrt(4.0 * (k + 1.0) * c * c + 8.0 * (k - 1.0) * c + 4.0 * (k + 1.0));
        const Complex d = 2.0 * (b - 1.0) * c + 2.0 * (1.0 + b);
        const Complex u = 2.0 * a * b * c + 2.0 * a * b;
        return { (u - v) / d, (u + v) / d };
    }

    double normalW() const { return 2.0 * std::atan(std::sqrt(std::tan(wc / 2.0) * std::tan(wc2 / 2.0))); }
};

} // namespace

void ChebyshevIBandPass::setup(int order, double sampleRate, double centerHz, double widthHz,
                               double rippleDb)
{
    assert(order >= 1 && order <= kMaxOrder);
    order = std::clamp(order, 1, kMaxOrder);

    PoleZeroLayout analog;
    ChebyshevIAnalogPrototype::design(order, rippleDb, analog);

    const BandPassTransform t(centerHz / sampleRate, widthHz / sampleRate);
    PoleZeroLayout digital;
    for (int i = 0; i < analog.numPairs(); ++i) {
        const PoleZeroLayout::Pair& pair = analog.pair(i);
        const auto poles = t.roots(pair.poles[0]);
        const auto zeros = t.roots(pair.zeros[0]);
        if (pair.m_bSingle) {
            digital.addPairs(poles.first, poles.second, zeros.first, zeros.second);
        } else {
            digital.addConjugatePairs(poles.first, zeros.first);
            digital.addConjugatePairs(poles.second, zeros.second);
        }
    }
    digital.m_normalW = t.normalW();
    digital.m_normalGain = analog.m_normalGain;
    setLayout(digital);
}
