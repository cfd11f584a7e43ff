#pragma once

#include <json/value.h>
#include <string>

class ZubEngine;

// The page's one entry point into the engine: a text message in, one reply
// text out. GUI thread only; not reentrant.
class ZubApi
{
public:
    explicit ZubApi(ZubEngine* engine);

    void handleMessage(const std::string& message);
    std::string reply() const { return m_reply; }

private:
    void handleJsonMessage(const Json::Value& root);
    void handleColonCommand(const std::string& command, const std::string& argument);
    bool handleBareCommand(const std::string& command);
    void handleArrowCommand(const std::string& message);
    // The reply text of a component's state.
    template <typename Component>
    static std::string styledState(const Component& component);

    ZubEngine* m_pEngine;
    std::string m_reply;
};
