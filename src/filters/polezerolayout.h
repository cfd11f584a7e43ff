#pragma once

#include <complex>
#include <limits>

// Poles and zeros of a design in the order the cascade is built from them,
// with the frequency and gain the finished cascade is normalized to.
class PoleZeroLayout
{
public:
    static constexpr int kMaxPairs = 4;

    // Two poles with two zeros, or (m_bSingle) one real pole with one zero.
    struct Pair
    {
        std::complex<double> poles[2];
        std::complex<double> zeros[2];
        bool m_bSingle = false;
    };

    static std::complex<double> infinity()
    {
        return { std::numeric_limits<double>::infinity(), 0.0 };
    }
    static bool isInfinity(std::complex<double> c) { return std::isinf(c.real()); }

    void addConjugatePairs(std::complex<double> pole, std::complex<double> zero);
    void addPairs(std::complex<double> p1, std::complex<double> p2,
                  std::complex<double> z1, std::complex<double> z2);
    void addSingle(std::complex<double> pole, std::complex<double> zero);

    int numPairs() const { return m_numPairs; }
    const Pair& pair(int i) const { return m_pairs[i]; }

    double m_normalW = 0.0;
    double m_normalGain = 1.0;

private:
    Pair m_pairs[kMaxPairs];
    int m_numPairs = 0;
};
