#include "core/logfile.h"
#include "support/tempdir.h"

#include <fstream>
#include <gtest/gtest.h>
#include <regex>
#include <sstream>
#include <string>

namespace {

std::string readFile(const std::string& path)
{
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(LogFile, LinesAreStampedAndWrittenInOrder)
{
    TempDir dir;
    LogFile file(dir.path().string());
    ASSERT_TRUE(file.isOpen());
    EXPECT_EQ(file.path(), dir.path().string() + "/motifo.log");
    file.write(LogLevel::Info, "Loading /usr/share/motifo/html/zub.html");
    file.write(LogLevel::Error, "Failed to open song.zub");
    file.write(LogLevel::Debug, "note on at 1.5 seconds.");
    file.flush();
    const std::regex expected(
        "\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3} info  Loading /usr/share/motifo/html/zub.html\n"
        "[^\n]+ error Failed to open song.zub\n"
        "[^\n]+ debug note on at 1.5 seconds.\n");
    const std::string text = readFile(file.path());
    EXPECT_TRUE(std::regex_match(text, expected)) << text;
}

TEST(LogFile, EachRunKeepsThePreviousOne)
{
    TempDir dir;
    for (const char* run : { "first run", "second run", "third run" }) {
        LogFile file(dir.path().string());
        file.write(LogLevel::Info, run);
    } // the destructor writes what is queued
    EXPECT_NE(readFile(dir.path().string() + "/motifo.log").find("third run"), std::string::npos);
    const std::string previous = readFile(dir.path().string() + "/motifo.1.log");
    EXPECT_NE(previous.find("second run"), std::string::npos);
    EXPECT_EQ(previous.find("first run"), std::string::npos);
    EXPECT_FALSE(std::ifstream(dir.path().string() + "/motifo.2.log").good());
}

TEST(LogFile, AFullFileIsMovedAsideAndNothingGrowsPastTheLimit)
{
    TempDir dir;
    constexpr std::size_t kLimit = 400;
    LogFile file(dir.path().string(), kLimit);
    for (int i = 0; i < 40; ++i)
        file.write(LogLevel::Info, "line " + std::to_string(100 + i));
    file.flush();
    const std::string current = readFile(file.path());
    const std::string previous = readFile(file.previousPath());
    EXPECT_LE(current.size(), kLimit);
    EXPECT_LE(previous.size(), kLimit);
    EXPECT_NE(current.find("line 139\n"), std::string::npos);
    // No line is lost at the seam: the newest lines run on from one file into the other.
    const std::size_t firstCurrent = std::stoi(current.substr(current.find("line ") + 5, 3));
    EXPECT_NE(previous.find("line " + std::to_string(firstCurrent - 1) + "\n"), std::string::npos) << previous;
}

TEST(LogFile, AFolderThatCannotBeMadeLeavesTheProgramRunning)
{
    TempDir dir;
    const std::string notAFolder = dir.path().string() + "/data";
    std::ofstream(notAFolder) << "a file where the folder should be";
    testing::internal::CaptureStderr();
    {
        LogFile file(notAFolder);
        EXPECT_FALSE(file.isOpen());
        file.write(LogLevel::Info, "still running");
        file.flush();
    }
    EXPECT_NE(testing::internal::GetCapturedStderr().find("Failed to open the log file"), std::string::npos);
}

TEST(LogFile, ReceivesTheProgramsLinesAsItsSink)
{
    TempDir dir;
    {
        LogFile file(dir.path().string());
        Log::setSink(&file);
        testing::internal::CaptureStdout();
        logInfo() << "Read the tempo and set it as: " << 96;
        testing::internal::GetCapturedStdout();
        Log::setSink(nullptr);
    }
    EXPECT_NE(readFile(dir.path().string() + "/motifo.log").find("info  Read the tempo and set it as: 96\n"), std::string::npos);
}

} // namespace
