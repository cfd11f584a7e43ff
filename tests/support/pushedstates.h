#pragma once

#include <json/reader.h>
#include <json/value.h>

#include <string>
#include <vector>

// The component states among messages sent to the page, in order: the
// object under the key of each message that carries it.
inline std::vector<Json::Value> pushedStates(const std::vector<std::string>& messages, const std::string& key)
{
    std::vector<Json::Value> states;
    for (const std::string& text : messages) {
        Json::Value root;
        if (Json::Reader().parse(text, root) && root.isObject() && root.isMember(key))
            states.push_back(root[key]);
    }
    return states;
}
