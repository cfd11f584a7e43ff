#include "core/jsonfield.h"

#include <cmath>
#include <json/reader.h>
#include <json/writer.h>

bool JsonField::toBool(const Json::Value& v, bool fallback)
{
    if (v.isBool())
        return v.asBool();
    if (v.isNumeric())
        return v.asDouble() != 0.0;
    return fallback;
}

double JsonField::toDouble(const Json::Value& v, double fallback)
{
    return v.isNumeric() ? v.asDouble() : fallback;
}

long long JsonField::toInt64(const Json::Value& v, long long fallback)
{
    if (v.isInt64())
        return v.asInt64();
    if (v.isDouble()) {
        const double d = v.asDouble();
        if (std::isfinite(d) && d > -9.2e18 && d < 9.2e18)
            return static_cast<long long>(d);
    }
    return fallback;
}

std::string JsonField::toString(const Json::Value& v, const std::string& fallback)
{
    return v.isString() ? v.asString() : fallback;
}

std::string JsonField::styled(const Json::Value& root)
{
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    Json::StyledWriter writer;
#pragma GCC diagnostic pop
    return writer.write(root);
}

bool JsonField::parse(const std::string& text, Json::Value& root)
{
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    Json::Reader reader(Json::Features::all());
#pragma GCC diagnostic pop
    try {
        return reader.parse(text, root, false);
    } catch (const Json::Exception&) {
        // Nesting beyond the reader's depth limit is thrown, not reported.
        root = Json::Value();
        return false;
    }
}
