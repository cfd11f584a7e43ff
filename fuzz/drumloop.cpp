// Drum loop file names ("bpm beats name words.ext") as the collection scans
// them, and the loop a name describes (an empty file) through the API.
#include "engine/drumloopcollection.h"
#include "engine/drumloopinfo.h"
#include "support/fuzzfile.h"

#include <cstdint>
#include <filesystem>
#include <fstream>

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    FuzzFile::silenceLogs();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    const std::string name(reinterpret_cast<const char*>(data), size);
    int32 bpm = 0, beats = 0;
    DrumLoopInfo::parseFileName(name, bpm, beats);
    if (auto info = DrumLoopInfo::fromFileName(FuzzFile::folder(), name))
        (void)info->toJson();

    // The same name as a real file in a folder of its own, when the file
    // system takes it.
    const std::string folder = FuzzFile::folder() + "/beats";
    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
    std::filesystem::create_directories(folder, ec);
    if (name.find('/') == std::string::npos && name.find('\0') == std::string::npos)
        std::ofstream(folder + "/" + name);
    DrumLoopCollection collection(folder);
    Json::Value root;
    collection.toJson(root);
    for (std::size_t i = 0; i < collection.size(); ++i)
        (void)collection.at(i)->toJson();
    return 0;
}
