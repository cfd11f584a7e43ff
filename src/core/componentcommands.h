#pragma once

#include <json/value.h>

// The object a component reads its commands from, after the two commands
// every component with an active and a suspended state shares: "initialize"
// activates it, "suspend" suspends it. Null when the message holds no object
// under the component's key.
template <typename Component>
const Json::Value* takeComponentCommands(const Json::Value& root, const char* key, Component& component)
{
    const Json::Value& msg = root[key];
    if (!msg.isObject())
        return nullptr;
    if (msg.isMember("initialize"))
        component.activate();
    if (msg.isMember("suspend"))
        component.suspend();
    return &msg;
}
