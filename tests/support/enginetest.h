#pragma once

#include "engine/transport.h"
#include "engine/zubapi.h"
#include "engine/zubengine.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

// Runs the engine in an empty working directory: it finds no instrument
// library there, so what a test hears is only what it feeds in.
class EmptyWorkingDirectory
{
public:
    EmptyWorkingDirectory()
        : m_previous(std::filesystem::current_path())
    {
        std::filesystem::current_path(m_dir.path());
    }
    ~EmptyWorkingDirectory() { std::filesystem::current_path(m_previous); }

private:
    TempDir m_dir;
    std::filesystem::path m_previous;
};

// An engine and its API with the process-wide transport back at 0 and 120
// bpm, and no instrument content.
class EngineTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        Transport::instance().setPosition(0);
        Transport::instance().setBpm(120.0f);
    }
    // The reply to one message.
    std::string send(const std::string& m)
    {
        api.handleMessage(m);
        return api.reply();
    }
    EmptyWorkingDirectory m_workingDirectory;
    ZubEngine engine { nullptr };
    ZubApi api { &engine };
};
