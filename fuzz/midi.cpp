// Standard MIDI files as an idea's notes are read back from a project.
#include "formats/midireader.h"
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
    MidiReader reader;
    if (reader.open(FuzzFile::write("in.mid", data, size)) != 0)
        return 0;
    std::vector<TimedMidiEventList> tracks;
    reader.read(tracks);
    for (const TimedMidiEventList& track : tracks)
        (void)track.toJson();
    return 0;
}
