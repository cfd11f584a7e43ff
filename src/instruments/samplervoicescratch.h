#pragma once

#include <vector>

// The buffers of one sampler voice's render call, nothing kept from one call
// to the next: voices that never render at the same time share one (about
// 0.9 MB; a sampler's ten voices render one after another).
struct SamplerVoiceScratch
{
    SamplerVoiceScratch(int filteredSamples, int upsampledSamples)
        : filtered(filteredSamples)
        , left(filteredSamples / 2)
        , right(filteredSamples / 2)
        , upsampled(upsampledSamples)
    {
    }

    std::vector<float> filtered;  // filtered source, interleaved
    std::vector<float> left;      // one channel of the source while it is filtered
    std::vector<float> right;
    std::vector<float> upsampled; // the source upsampled by the integer factor
};
