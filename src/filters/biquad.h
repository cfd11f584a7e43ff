#pragma once

#include <complex>

// One second-order section, H(z) = (b0 + b1 z^-1 + b2 z^-2) / (1 + a1 z^-1 + a2 z^-2),
// stored normalized by a0.
class Biquad
{
public:
    // Stores a0 and divides the other five coefficients by it.
    void setCoefficients(double a0, double a1, double a2, double b0, double b1, double b2);

    // A section from two poles and two zeros, each pair either complex
    // conjugates or two real roots.
    void setPoleZeroPairs(std::complex<double> p1, std::complex<double> p2,
                          std::complex<double> z1, std::complex<double> z2);

    // A first-order section: one real pole with one real zero.
    void setOnePole(std::complex<double> pole, std::complex<double> zero);

    // Multiplies the numerator, which scales the gain at every frequency.
    void applyScale(double scale);

    // Response at w radians per sample.
    std::complex<double> response(double w) const;

    double a1() const { return m_a1; }
    double a2() const { return m_a2; }
    double b0() const { return m_b0; }
    double b1() const { return m_b1; }
    double b2() const { return m_b2; }

private:
    double m_a0 = 1.0;
    double m_a1 = 0.0;
    double m_a2 = 0.0;
    double m_b1 = 0.0;
    double m_b2 = 0.0;
    double m_b0 = 1.0;
};
