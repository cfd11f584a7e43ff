#pragma once

#include "engine/transport.h"
#include "engine/zubapi.h"
#include "engine/zubengine.h"

#include <gtest/gtest.h>

#include <string>

// An engine and its API with the process-wide transport back at 0 and 120 bpm.
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
    ZubEngine engine { nullptr };
    ZubApi api { &engine };
};
