#include "support/fuzzfile.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <unistd.h>

const std::string& FuzzFile::folder()
{
    // Never destroyed, so that the clean-up at exit can still read it.
    static const std::string& dir = *[] {
        std::string pattern = (access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp");
        pattern += "/motifo-fuzz-XXXXXX";
        if (!mkdtemp(pattern.data()))
            std::abort();
        // A run that ends normally leaves nothing in memory-backed /dev/shm;
        // a crash keeps the folder with the input that caused it.
        std::atexit([] { std::filesystem::remove_all(folder()); });
        return new std::string(pattern);
    }();
    return dir;
}

std::string FuzzFile::write(const std::string& name, const uint8_t* data, std::size_t size)
{
    const std::string path = folder() + "/" + name;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    return path;
}

std::string FuzzFile::write(const std::string& name, const std::string& data)
{
    return write(name, reinterpret_cast<const uint8_t*>(data.data()), data.size());
}

void FuzzFile::silenceLogs()
{
    static std::ofstream nowhere("/dev/null");
    std::cout.rdbuf(nowhere.rdbuf());
    std::cerr.rdbuf(nowhere.rdbuf());
    std::clog.rdbuf(nowhere.rdbuf());
    // printf and fprintf(stderr) from the engine as well; the sanitizers and
    // libFuzzer write their reports to a duplicate of the original stderr.
    if (!std::freopen("/dev/null", "w", stdout))
        std::abort();
}
