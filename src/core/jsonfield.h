#pragma once

#include <json/value.h>
#include <string>

// Reads message members without throwing: jsoncpp's as*() throws on a value
// of the wrong type, and no message from the page may crash the engine.
class JsonField
{
public:
    static bool isBoolLike(const Json::Value& v) { return v.isBool() || v.isNumeric(); }
    static bool toBool(const Json::Value& v, bool fallback);
    static double toDouble(const Json::Value& v, double fallback);
    static long long toInt64(const Json::Value& v, long long fallback);
    static std::string toString(const Json::Value& v, const std::string& fallback);
    // Styled text of a root object, as every state reply is written.
    static std::string styled(const Json::Value& root);
    // Parses a message or document with every jsoncpp extension on and
    // comments dropped; false when the text is not JSON.
    static bool parse(const std::string& text, Json::Value& root);
};
