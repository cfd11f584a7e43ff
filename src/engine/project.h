#pragma once

#include "core/zubtypes.h"

#include <json/value.h>

#include <functional>

// The project's own small state: tempo, the modified flag and its guid, and
// the notifications towards the main window. GUI thread only; the
// notifications run on the thread that changes the project.
class Project
{
public:
    using ModifiedNotification = std::function<void(bool)>;
    using ClearedNotification = std::function<void()>;
    using ConfirmDiscardQuery = std::function<bool()>;

    Project();

    void setModified(bool modified);
    bool isModified() const { return m_bModified; }
    // Tells the cleared and modified notifications, forgets the flag and
    // draws a new guid.
    void reset();
    // True at once when nothing is modified or nobody can be asked.
    bool confirmDiscard() const;

    void setModifiedNotification(ModifiedNotification notification) { m_modifiedNotification = std::move(notification); }
    void setClearedNotification(ClearedNotification notification) { m_clearedNotification = std::move(notification); }
    void setConfirmDiscardQuery(ConfirmDiscardQuery query) { m_confirmDiscardQuery = std::move(query); }

    double bpm() const { return m_dBpm; }
    void setBpm(double bpm) { m_dBpm = bpm; }
    int64 guid() const { return m_guid; }

    void toJson(Json::Value& root) const;
    void handleJson(const Json::Value& root);

private:
    static int64 drawGuid();

    double m_dBpm = 120.0;
    bool m_bModified = false;
    ModifiedNotification m_modifiedNotification;
    ClearedNotification m_clearedNotification;
    ConfirmDiscardQuery m_confirmDiscardQuery;
    int64 m_guid;
};
