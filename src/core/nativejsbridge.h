#pragma once

#include <string>

// The engine's way to send a text message to the page.
class NativeJsBridge
{
public:
    // GUI thread only: hands the message to the page now.
    virtual void deliverMessage(std::string message) = 0;
    // Any thread: the message reaches the page later, in posting order.
    virtual void postMessage(std::string message) = 0;

protected:
    ~NativeJsBridge() = default;
};
