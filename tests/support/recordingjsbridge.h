#pragma once

#include "engine/nativejsbridge.h"

#include <json/reader.h>
#include <json/value.h>

#include <mutex>
#include <string>
#include <vector>

// A bridge that keeps every message sent to the page, from any thread.
class RecordingJsBridge : public NativeJsBridge
{
public:
    void deliverMessage(std::string message) override { add(std::move(message)); }
    void postMessage(std::string message) override { add(std::move(message)); }

    std::vector<std::string> messages() const
    {
        std::lock_guard lock(m_mutex);
        return m_messages;
    }
    // The parsed messages that carry a component's key.
    std::vector<Json::Value> statesOf(const std::string& key) const
    {
        std::vector<Json::Value> states;
        for (const std::string& text : messages()) {
            Json::Value root;
            if (Json::Reader().parse(text, root) && root.isObject() && root.isMember(key))
                states.push_back(root[key]);
        }
        return states;
    }
    void clear()
    {
        std::lock_guard lock(m_mutex);
        m_messages.clear();
    }

private:
    void add(std::string message)
    {
        std::lock_guard lock(m_mutex);
        m_messages.push_back(std::move(message));
    }

    mutable std::mutex m_mutex;
    std::vector<std::string> m_messages;
};
