#pragma once

#include "filters/cascade.h"

// Second-order high-pass of the RBJ Audio EQ Cookbook: one section.
class RbjHighPass : public Cascade
{
public:
    void setup(double sampleRate, double cutoffHz, double q);
};
