#pragma once

#include "filters/cascade.h"

// Second-order low-pass of the RBJ Audio EQ Cookbook: one section.
class RbjLowPass : public Cascade
{
public:
    void setup(double sampleRate, double cutoffHz, double q);
};
