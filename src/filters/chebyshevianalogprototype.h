#pragma once

#include "filters/polezerolayout.h"

// Analog Chebyshev type I low-pass prototype: poles on an ellipse, all zeros
// at infinity. Conjugate pole pairs come first, the odd real pole last.
class ChebyshevIAnalogPrototype
{
public:
    static void design(int numPoles, double rippleDb, PoleZeroLayout& layout);
};
