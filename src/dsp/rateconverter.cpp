#include "dsp/rateconverter.h"

#include <samplerate.h>

#include <cmath>

std::string RateConverter::convert(const std::vector<float>& in, int channels, int fromRate, int toRate,
    std::vector<float>& out)
{
    out.clear();
    if (channels <= 0 || fromRate <= 0 || toRate <= 0)
        return "no rate or channels to convert";
    const long inFrames = long(in.size() / std::size_t(channels));
    const double ratio = double(toRate) / double(fromRate);
    if (src_is_valid_ratio(ratio) == 0)
        return "the rate ratio is out of range";
    const long outFrames = long(std::ceil(double(inFrames) * ratio));
    out.resize(std::size_t(outFrames) * std::size_t(channels));
    SRC_DATA data {};
    data.data_in = in.data();
    data.input_frames = inFrames;
    data.data_out = out.data();
    data.output_frames = outFrames;
    data.src_ratio = ratio;
    data.end_of_input = 1;
    if (const int error = src_simple(&data, SRC_SINC_BEST_QUALITY, channels); error != 0) {
        out.clear();
        return src_strerror(error);
    }
    out.resize(std::size_t(data.output_frames_gen) * std::size_t(channels));
    return {};
}
