#include "filters/biquad.h"

void Biquad::setCoefficients(double a0, double a1, double a2, double b0, double b1, double b2)
{
    m_a0 = a0;
    m_a1 = a1 / a0;
    m_a2 = a2 / a0;
    m_b0 = b0 / a0;
    m_b1 = b1 / a0;
    m_b2 = b2 / a0;
}

void Biquad::setPoleZeroPairs(std::complex<double> p1, std::complex<double> p2,
                              std::complex<double> z1, std::complex<double> z2)
{
    // For a conjugate pair -(p + p*) = -2 Re(p) and p p* = |p|^2; for two real
    // roots these are -(r1 + r2) and r1 r2.
    setCoefficients(1.0, -(p1 + p2).real(), (p1 * p2).real(),
                    1.0, -(z1 + z2).real(), (z1 * z2).real());
}

void Biquad::setOnePole(std::complex<double> pole, std::complex<double> zero)
{
    setCoefficients(1.0, -pole.real(), 0.0, -zero.real(), 1.0, 0.0);
}

void Biquad::applyScale(double scale)
{
    m_b0 *= scale;
    m_b1 *= scale;
    m_b2 *= scale;
}

std::complex<double> Biquad::response(double w) const
{
    const std::complex<double> czn1 = std::polar(1.0, -w);
    const std::complex<double> czn2 = std::polar(1.0, -2.0 * w);
    const std::complex<double> num = m_b0 + m_b1 * czn1 + m_b2 * czn2;
    const std::complex<double> den = 1.0 + m_a1 * czn1 + m_a2 * czn2;
    return num / den;
}
