#include "filters/chebyshevianalogprototype.h"

#include <cmath>
#include <numbers>

void ChebyshevIAnalogPrototype::design(int numPoles, double rippleDb, PoleZeroLayout& layout)
{
    const int n = numPoles;
    const double eps = std::sqrt(std::pow(10.0, 0.1 * rippleDb) - 1.0);
    const double mu = std::asinh(1.0 / eps) / n;
    const double sinhMu = std::sinh(mu);
    const double coshMu = std::cosh(mu);

    for (int i = 0, k = 1 - n; i < n / 2; ++i, k += 2) {
        const double angle = k * std::numbers::pi / (2.0 * n);
        const std::complex<double> pole(-sinhMu * std::cos(angle), coshMu * std::sin(angle));
        layout.addConjugatePairs(pole, PoleZeroLayout::infinity());
    }
    if (n % 2 == 1) {
        layout.addSingle(-sinhMu, PoleZeroLayout::infinity());
        layout.m_normalGain = 1.0;
    } else {
        layout.m_normalGain = std::pow(10.0, -rippleDb / 20.0);
    }
    layout.m_normalW = 0.0;
}
