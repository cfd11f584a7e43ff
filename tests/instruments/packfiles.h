#pragma once

#include <string>
#include <vector>

// Real sample packs on disk for the sampler tests: 16-bit WAV samples
// generated here and a pack file authored from a JSON description.
namespace packfiles {

constexpr int kSampleRate = 44100;

// A stereo sine of the given frequency and amplitude, both channels equal.
std::vector<float> sine(double hz, int frames, float amplitude = 0.5f);
// A stereo constant: the envelope shape shows through unchanged.
std::vector<float> constant(float value, int frames);

// Writes samples as dir/name (16-bit stereo WAV); fails the test on error.
void writeSample(const std::string& dir, const std::string& name, const std::vector<float>& samples);
// Authors dir/samplepack.zsfb from a JSON or text description.
void writePack(const std::string& dir, const std::string& description);

constexpr const char* kFlatEnvelope
    = R"({ "attack_time": 0, "decay_time": 0, "sustain_level": 1, "release_time": 1 })";

// The JSON description of one zone, and of a pack of zones (comma separated).
std::string zoneJson(int startKey, int endKey, int rootKey, const std::string& file,
    const std::string& adsr = kFlatEnvelope);
std::string packJson(const std::string& zones);

} // namespace packfiles
