// Ogg Vorbis samples and drum loops: the decoder behind Sample.
#include "formats/sample.h"
#include "support/fuzzfile.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    FuzzFile::silenceLogs();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    const Sample sample(FuzzFile::write("in.ogg", data, size));
    // Whole stereo frames, every one of them readable.
    if (sample.numSamples() % 2 != 0 || (sample.numSamples() > 0 && !sample.data()))
        std::abort();
    volatile float sum = 0.0f;
    for (int i = 0; i < sample.numSamples(); ++i)
        sum = sum + sample.data()[i];
    return 0;
}
