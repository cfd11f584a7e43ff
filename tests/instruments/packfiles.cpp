#include "packfiles.h"

#include "authoring/protoauthor.h"
#include "formats/wavewriter.h"
#include "proto/samplepack.pb.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

namespace packfiles {

std::vector<float> sine(double hz, int frames, float amplitude)
{
    std::vector<float> out(2 * frames);
    for (int i = 0; i < frames; ++i) {
        const float v = amplitude * static_cast<float>(std::sin(2.0 * std::numbers::pi * hz * i / kSampleRate));
        out[2 * i] = v;
        out[2 * i + 1] = v;
    }
    return out;
}

std::vector<float> constant(float value, int frames)
{
    return std::vector<float>(2 * frames, value);
}

void writeSample(const std::string& dir, const std::string& name, const std::vector<float>& samples)
{
    ASSERT_EQ(writeWav(dir + "/" + name, samples.data(), static_cast<int>(samples.size())), 0);
}

void writePack(const std::string& dir, const std::string& description)
{
    Quavertone::SamplePack pack;
    std::string error;
    ASSERT_EQ(ProtoAuthor::parseDescription(description, pack, error), 0) << error;
    ASSERT_EQ(ProtoAuthor::write(dir + "/samplepack.zsfb", pack), 0);
}

std::string zoneJson(int startKey, int endKey, int rootKey, const std::string& file, const std::string& adsr)
{
    return "{ \"start_key\": " + std::to_string(startKey) + ", \"end_key\": " + std::to_string(endKey)
        + ", \"root_key\": " + std::to_string(rootKey) + ", \"adsr_params\": " + adsr
        + ", \"filename\": \"" + file + "\" }";
}

std::string packJson(const std::string& zones)
{
    return "{ \"zone\": [ " + zones + " ] }";
}

} // namespace packfiles
