// Instrument descriptors: the binary file, and the readable description the
// authoring tool turns into one.
#include "authoring/protoauthor.h"
#include "formats/protofile.h"
#include "proto/samplepack.pb.h"
#include "proto/zubinstrument.pb.h"
#include "support/fuzzfile.h"

#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    FuzzFile::silenceLogs();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const std::string rest(reinterpret_cast<const char*>(data + 1), size - 1);
    std::string error;
    switch (data[0] % 3) {
    case 0: {
        Quavertone::ZubInstrument instrument;
        if (ProtoFile::read(FuzzFile::write("instrument.zimbo", rest), instrument) == 0)
            (void)ProtoAuthor::toJson(instrument);
        break;
    }
    case 1: {
        Quavertone::ZubInstrument instrument;
        ProtoAuthor::parseDescription(rest, instrument, error);
        break;
    }
    default: {
        Quavertone::SamplePack pack;
        ProtoAuthor::parseDescription(rest, pack, error);
        break;
    }
    }
    return 0;
}
