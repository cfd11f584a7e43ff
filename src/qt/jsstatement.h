#pragma once

#include <QString>

// Builds the statements the host evaluates in the page. Message texts go into
// a single-quoted literal, so everything that could end or break it is escaped.
class JsStatement
{
public:
    static QString escapeForSingleQuotedLiteral(const QString& text);
    // "handleMsgFromQt4('<escaped message>'); null"
    static QString handleMsgCall(const QString& message);
};
