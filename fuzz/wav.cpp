// The WAV reader, through a loop loading its file (as opening a project
// does) and through a sample, then played for a cycle.
#include "formats/sample.h"
#include "loops/loop.h"
#include "support/fuzzfile.h"

#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    FuzzFile::silenceLogs();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    const std::string path = FuzzFile::write("in.wav", data, size);
    Loop loop;
    if (loop.loadWav(path) == 0) {
        std::vector<float> out(2 * 512);
        loop.process(out.data(), 512);
        (void)loop.toJson();
    }
    const Sample sample(path);
    volatile float sum = 0.0f;
    for (int i = 0; i < sample.numSamples(); ++i)
        sum = sum + sample.data()[i];
    return 0;
}
