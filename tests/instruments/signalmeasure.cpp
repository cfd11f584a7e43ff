#include "signalmeasure.h"

#include "instruments/sampler.h"

#include <algorithm>
#include <cmath>

namespace signalmeasure {

double frequency(const std::vector<float>& interleaved, int firstFrame)
{
    const int frames = static_cast<int>(interleaved.size() / 2);
    double first = -1.0;
    double last = -1.0;
    int crossings = 0;
    for (int i = std::max(firstFrame, 1); i < frames; ++i) {
        const float a = interleaved[2 * (i - 1)];
        const float b = interleaved[2 * i];
        if (a < 0.0f && b >= 0.0f) {
            const double t = (i - 1) + (-a) / (b - a);
            if (first < 0.0)
                first = t;
            last = t;
            ++crossings;
        }
    }
    if (crossings < 2)
        return 0.0;
    return (crossings - 1) / (last - first) * 44100.0;
}

double rms(const std::vector<float>& interleaved, int first, int last)
{
    double sum = 0.0;
    for (int i = first; i < last; ++i)
        sum += double(interleaved[2 * i]) * interleaved[2 * i];
    return last > first ? std::sqrt(sum / (last - first)) : 0.0;
}

std::vector<float> render(Sampler& sampler, int numFrames, int blockFrames)
{
    std::vector<float> out(2 * numFrames, 0.0f);
    for (int done = 0; done < numFrames; done += blockFrames)
        sampler.process(out.data() + 2 * done, std::min(blockFrames, numFrames - done));
    return out;
}

} // namespace signalmeasure
