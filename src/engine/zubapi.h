#pragma once

#include <json/value.h>
#include <string>

class ZubEngine;

// The page's one entry point into the engine: a text message in, one reply
// text out. GUI thread only. A handler may run a nested event loop (the
// discard prompt) in which the page sends more messages: each call keeps its
// own reply.
class ZubApi
{
public:
    explicit ZubApi(ZubEngine* engine);

    // Returns the reply, which reply() also gives until the next call ends.
    std::string handleMessage(const std::string& message);
    std::string reply() const { return m_lastReply; }

private:
    void handleJsonMessage(const Json::Value& root);
    void handleLoopRecorder(const Json::Value& root);
    std::string audioChecksum(const std::string& of) const;
    void handleLink(const Json::Value& link);
    void handleProject(const Json::Value& root);
    void handleColonCommand(const std::string& command, const std::string& argument);
    bool handleBareCommand(const std::string& command);
    void handleArrowCommand(const std::string& message);
    // The reply text of a component's state.
    template <typename Component>
    static std::string styledState(const Component& component);

    void dispatch(const std::string& message);

    ZubEngine* m_pEngine;
    // The reply of the call being handled; handlers write it.
    std::string m_reply;
    std::string m_lastReply;
};
