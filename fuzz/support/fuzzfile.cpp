#include "support/fuzzfile.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <unistd.h>

const std::string& FuzzFile::folder()
{
    static const std::string dir = [] {
        std::string pattern = (access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp");
        pattern += "/motifo-fuzz-XXXXXX";
        const char* made = mkdtemp(pattern.data());
        if (!made)
            std::abort();
        return std::string(made);
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
