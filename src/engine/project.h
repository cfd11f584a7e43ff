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
    // Counts the changes (every setModified(true)).
    uint64_t changeCount() const { return m_changeCount; }
    // A save of the song as it was at changeCount has finished: the unsaved
    // mark goes only when nothing changed since.
    void savedAt(uint64_t changeCount);
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
    uint64_t m_changeCount = 0;
    ModifiedNotification m_modifiedNotification;
    ClearedNotification m_clearedNotification;
    ConfirmDiscardQuery m_confirmDiscardQuery;
    int64 m_guid;
};
