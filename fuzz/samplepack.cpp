// Sample pack files: the pack is read from a folder holding one real sample,
// installed, and played across the keyboard.
#include "instruments/sampler.h"
#include "support/fuzzfile.h"

#include <cstdint>
#include <vector>

namespace {
// A short ramp in the only format samples come in: every zone decodes it.
std::string tinyWav()
{
    std::string data;
    for (int i = 0; i < 64; ++i) {
        const int16_t v = int16_t(i * 300 - 10000);
        data.append(reinterpret_cast<const char*>(&v), 2);
        data.append(reinterpret_cast<const char*>(&v), 2);
    }
    auto le = [](uint32_t v, int n) { std::string s; for (int i = 0; i < n; ++i) s += char(v >> (8 * i)); return s; };
    return "RIFF" + le(36 + data.size(), 4) + "WAVEfmt " + le(16, 4) + le(1, 2) + le(2, 2) + le(44100, 4)
        + le(44100 * 4, 4) + le(4, 2) + le(16, 2) + "data" + le(data.size(), 4) + data;
}
} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    FuzzFile::silenceLogs();
    FuzzFile::write("a.wav", tinyWav());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    // One sampler for the run: a pack installed by load replaces every zone
    // and stops every voice, so each input starts alike.
    static Sampler sampler;
    static std::vector<float> out(2 * 64);
    FuzzFile::write("samplepack.zsfb", data, size);
    if (sampler.load(FuzzFile::folder()) != 0)
        return 0;
    for (int key = 0; key < Sampler::kNumKeys; key += 11) {
        sampler.noteOn(key);
        sampler.process(out.data(), 64);
        sampler.noteOff(key);
    }
    sampler.process(out.data(), 64);
    return 0;
}
