#pragma once

#include "filters/directformiistate.h"

// A designed filter (a Cascade subclass) with the state of two channels.
// The design's setup() is called once by the owner; process never allocates.
template <class Design>
class StereoFilter : public Design
{
public:
    static constexpr int kNumChannels = 2;

    // channels[0] is the left array, channels[1] the right, numSamples each.
    void process(int numSamples, float* const* channels)
    {
        for (int ch = 0; ch < kNumChannels; ++ch)
            m_state[ch].process(*this, channels[ch], numSamples);
    }

    void processChannel(int channel, float* samples, int numSamples)
    {
        m_state[channel].process(*this, samples, numSamples);
    }

private:
    DirectFormIIState m_state[kNumChannels];
};
