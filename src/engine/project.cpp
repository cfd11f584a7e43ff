#include "engine/project.h"

#include "core/jsonfield.h"
#include "core/log.h"

#include <cmath>
#include <cstdlib>

Project::Project()
    : m_guid(drawGuid())
{
}

int64 Project::drawGuid()
{
    return -int64(std::rand() % 32768);
}

void Project::setModified(bool modified)
{
    if (modified)
        ++m_changeCount;
    m_bModified = modified;
    if (m_modifiedNotification)
        m_modifiedNotification(modified);
}

void Project::savedAt(uint64_t changeCount)
{
    if (changeCount == m_changeCount)
        setModified(false);
}

void Project::reset()
{
    if (m_clearedNotification)
        m_clearedNotification();
    setModified(false);
    m_guid = drawGuid();
}

bool Project::confirmDiscard() const
{
    if (!m_confirmDiscardQuery || !m_bModified)
        return true;
    return m_confirmDiscardQuery();
}

void Project::toJson(Json::Value& root) const
{
    Json::Value& state = root["project"];
    state["modified_since_last_save"] = m_bModified;
    state["bpm"] = m_dBpm;
}

void Project::handleJson(const Json::Value& root)
{
    const Json::Value& msg = root["project"];
    if (!msg.isObject())
        return;
    // "initialize", "suspend" and "mac_sandbox" are accepted and do nothing.
    const double bpm = JsonField::toDouble(msg["bpm"], -1.0);
    if (msg.isMember("bpm")) {
        if (bpm > 0.0 && std::isfinite(bpm))
            m_dBpm = bpm;
        else
            logInfo() << "Project tempo refused: " << msg["bpm"].toStyledString();
    }
    // The page sends this with the sandbox guid after a save; the flag itself
    // belongs to the document commands, so only the guid is taken.
    if (msg.isMember("modified_since_last_save"))
        m_guid = JsonField::toInt64(msg["mac_sandbox_guid"], 0);
}
