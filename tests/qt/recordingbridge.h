#pragma once

#include "core/nativejsbridge.h"

#include <mutex>
#include <string>
#include <utility>
#include <vector>

// Stands in for the page: keeps every message posted to it, from any thread.
class RecordingBridge : public NativeJsBridge
{
public:
    void deliverMessage(std::string message) override { postMessage(std::move(message)); }
    void postMessage(std::string message) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_messages.push_back(std::move(message));
    }
    std::vector<std::string> messages()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_messages;
    }
    // The messages so far, forgotten here.
    std::vector<std::string> take()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return std::exchange(m_messages, {});
    }

private:
    std::mutex m_mutex;
    std::vector<std::string> m_messages;
};
