#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The readers under test take paths: each input is written to a file in a
// private folder (in memory where /dev/shm exists) that lives for the process.
class FuzzFile
{
public:
    // The folder all fuzz files go into, made on first use.
    static const std::string& folder();
    // Writes data to folder()/name and returns the path.
    static std::string write(const std::string& name, const uint8_t* data, std::size_t size);
    static std::string write(const std::string& name, const std::string& data);
    // Sends the engine's console logging to nowhere; the fuzzer keeps stderr
    // for its own reports through its own descriptor.
    static void silenceLogs();
};
