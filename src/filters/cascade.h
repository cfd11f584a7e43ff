#pragma once

#include "filters/biquad.h"
#include "filters/polezerolayout.h"

#include <complex>

// An ordered chain of biquad sections: the coefficients of one designed
// filter. The per-channel state lives in DirectFormIIState.
class Cascade
{
public:
    static constexpr int kMaxSections = PoleZeroLayout::kMaxPairs;

    // Builds one section per pair, then scales the first section so that the
    // gain at the layout's normalization frequency equals its normalization gain.
    void setLayout(const PoleZeroLayout& layout);

    // A single section from raw (not yet normalized) coefficients.
    void setSingleSection(double a0, double a1, double a2, double b0, double b1, double b2);

    // Response of the whole chain at w radians per sample.
    std::complex<double> response(double w) const;

    int numSections() const { return m_numSections; }
    const Biquad& section(int i) const { return m_sections[i]; }

private:
    Biquad m_sections[kMaxSections];
    int m_numSections = 0;
};
