#pragma once

#include <QEvent>
#include <string>

// A message for the page, posted from any thread to the web view.
class JsMessageEvent : public QEvent
{
public:
    static constexpr QEvent::Type TYPE = QEvent::User; // 1000

    explicit JsMessageEvent(std::string text)
        : QEvent(TYPE)
        , message(std::move(text))
    {
    }

    std::string message;
};
